# Every fuzz target with a seed corpus also builds with the project's own compiler as a plain program that
# runs the target over each seed once; CTest runs it with the unit tests, so every build checks the known
# inputs even where no fuzzer toolchain is installed. Included from tests/CMakeLists.txt.
file(GLOB velaro_fuzz_corpora LIST_DIRECTORIES true CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/corpus/*)
foreach(corpus IN LISTS velaro_fuzz_corpora)
    get_filename_component(name ${corpus} NAME)
    set(source ${CMAKE_SOURCE_DIR}/fuzz/${name}.cpp)
    if(NOT IS_DIRECTORY ${corpus} OR NOT EXISTS ${source})
        continue()
    endif()
    add_executable(fuzz_replay_${name} ${source} ${CMAKE_SOURCE_DIR}/fuzz/ReplayMain.cpp)
    target_include_directories(fuzz_replay_${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/fuzz)
    # The app library brings every subsystem, and the media adapter's core its own code, so a target may test
    # any of them.
    target_link_libraries(fuzz_replay_${name} PRIVATE velaro_app velaro_media_adapter_core)
    file(GLOB seeds CONFIGURE_DEPENDS ${corpus}/*)
    add_test(NAME FuzzCorpus.${name} COMMAND fuzz_replay_${name} ${seeds})
    set_tests_properties(FuzzCorpus.${name} PROPERTIES LABELS unit ENVIRONMENT_MODIFICATION "${VELARO_LEAK_CHECK}")
endforeach()
