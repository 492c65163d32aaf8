# Helpers that keep each subsystem's build description to one line: sources are the folder's own files.

# velaro_library(target dir DEPS ...): a static library of every .cpp directly in `dir`.
function(velaro_library target dir)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp ${CMAKE_SOURCE_DIR}/${dir}/*.h)
    list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
    if(NOT sources)
        # A subsystem that has no code yet still links, so the app and tests can name it.
        set(placeholder ${CMAKE_BINARY_DIR}/placeholders/${target}.cpp)
        file(WRITE ${placeholder} "// ${target} has no sources yet.\n")
        set(sources ${placeholder})
    endif()
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
endfunction()

# velaro_test_suite(name dir... DEPS ...): one GoogleTest executable of every .cpp in the folders tests/`dir`, each
# test a CTest case.
function(velaro_test_suite name)
    cmake_parse_arguments(ARG "" "" "DEPS;LABELS" ${ARGN})
    set(sources)
    foreach(dir IN LISTS ARG_UNPARSED_ARGUMENTS)
        file(GLOB dir_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${dir}/*.cpp)
        list(APPEND sources ${dir_sources})
    endforeach()
    if(NOT sources)
        return()
    endif()
    add_executable(${name} ${sources})
    target_link_libraries(${name} PRIVATE velaro_test_support GTest::gtest GTest::gmock ${ARG_DEPS})
    set(labels unit)
    if(ARG_LABELS)
        set(labels ${ARG_LABELS})
    endif()
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        PROPERTIES LABELS "${labels}" ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
                   ENVIRONMENT_MODIFICATION "${VELARO_LEAK_CHECK}")
endfunction()
