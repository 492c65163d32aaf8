# Helpers that keep each subsystem's build description to one line: sources are the folder's own files.

# Whole debug builds (scripts/test's sanitizer build, engineers' own) compile each target's files in batches of
# CMAKE_UNITY_BUILD_BATCH_SIZE (-DCMAKE_UNITY_BUILD=ON): a debug build with sanitizers spends most of its time
# parsing and instantiating the same Qt, GoogleTest and JSON templates again in every file, and a batch does that
# once (a batch's headers are parsed once too, so precompiled headers saved nothing measurable on top and cost their
# own build). The files below cannot share a batch: they use a name that Qt defines as a keyword macro ("signals" in
# GLib's headers, "slots"), or their file-local names are also defined in files beside them. A file that breaks a
# batch build goes here (or renames what clashes), as does one whose class members have types of its own anonymous
# namespace (GCC warns of their linkage once the file is included in a batch). The tests' shared main() stays an
# object of its own, so that a program with its own main() that links the test support does not get the shared one
# too.
set(VELARO_UNITY_EXCLUDED
    src/music/MusicVisualizerAudioEngine.cpp
    src/music/ProgressBarController.cpp
    src/music/VizBarRenderer.cpp
    src/overlay/BarOverlayView.cpp
    src/overlay/OverlayControllerGeometry.cpp
    src/platform/linux/DesktopMotion.cpp
    src/platform/linux/PulseAudioCapture.cpp
    src/platform/linux/QtOverlayGLSurface.cpp
    src/platform/linux/QtOverlayShmStore.cpp
    src/platform/linux/X11CaptureService.cpp
    src/platform/linux/X11TaskbarPolicy.cpp
    src/platform/linux/XdgAppCatalog.cpp
    src/settings/CornerSettings.cpp
    src/settings/ShortcutSettings.cpp
    src/ui/settings/pages/AdvancedSection.cpp
    src/ui/settings/rings/CornerMutators.cpp
    src/ui/tray/LivePreviewHeader.cpp
    tests/app/AppDelegateRuntimeTest.cpp
    tests/app/AppDelegateSettingsWindowTest.cpp
    tests/e2e/AppearancePageDesktopTest.cpp
    tests/e2e/CornerRoundingDesktopTest.cpp
    tests/e2e/DesktopTest.cpp
    tests/e2e/MaximiseButtonTest.cpp
    tests/e2e/OverlayControllerTest.cpp
    tests/e2e/OverlayPagesDesktopTest.cpp
    tests/e2e/OverlayViewsTest.cpp
    tests/e2e/OverlayWindowTest.cpp
    tests/e2e/SamplerTest.cpp
    tests/e2e/SamplingPlatformTest.cpp
    tests/e2e/SettingsWindowDesktopTest.cpp
    tests/e2e/ShellPlatformTest.cpp
    tests/e2e/ShortcutsExcludedDesktopTest.cpp
    tests/e2e/StatusItemTest.cpp
    tests/e2e/TrayTest.cpp
    tests/e2e/VizAppTest.cpp
    tests/music/MusicVisualizerAudioEngineTest.cpp
    tests/music/VizFrameStepTest.cpp
    tests/onboarding/OnboardingRootViewTest.cpp
    tests/onboarding/TourFeaturePagesTest.cpp
    tests/overlay/PillMaskTest.cpp
    tests/sampling/OverviewDetectorTest.cpp
    tests/sampling/WindowListScansTest.cpp
    tests/settings/MigrationsTest.cpp
    tests/settings/OverlaySettingsLoadTest.cpp
    tests/settings/OverlaySettingsTest.cpp
    tests/settings/ShortcutSettingsTest.cpp
    tests/support/TestMain.cpp
    tests/ui/CornerRoundingPageTest.cpp
    tests/ui/RingGaugeTest.cpp
    CACHE INTERNAL "")

# Marks those of `sources` that VELARO_UNITY_EXCLUDED names as compiled on their own, in the caller's directory.
function(velaro_keep_out_of_batches)
    foreach(source IN LISTS ARGN)
        file(RELATIVE_PATH relative ${CMAKE_SOURCE_DIR} ${source})
        if(relative IN_LIST VELARO_UNITY_EXCLUDED)
            set_source_files_properties(${source} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
        endif()
    endforeach()
endfunction()

# velaro_library(target dir... DEPS ...): a static library of every .cpp directly in the folders `dir`.
function(velaro_library target)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    set(sources)
    foreach(dir IN LISTS ARG_UNPARSED_ARGUMENTS)
        file(GLOB dir_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp ${CMAKE_SOURCE_DIR}/${dir}/*.h)
        list(APPEND sources ${dir_sources})
    endforeach()
    list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
    if(NOT sources)
        # A subsystem that has no code yet still links, so the app and tests can name it.
        set(placeholder ${CMAKE_BINARY_DIR}/placeholders/${target}.cpp)
        file(WRITE ${placeholder} "// ${target} has no sources yet.\n")
        set(sources ${placeholder})
    endif()
    velaro_keep_out_of_batches(${sources})
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
    foreach(dir IN LISTS ARG_UNPARSED_ARGUMENTS)
        velaro_check_headers(${target} ${dir})
    endforeach()
endfunction()

# velaro_check_headers(target dir): the target velaro_headers (in builds with tests) proves that each header
# directly in `dir` compiles alone, with the include folders, definitions and options of `target`. A header that
# leans on what another file happened to include before it breaks the build without batches that scripts/run
# makes, while batched builds still pass. A header whose own .cpp includes it first is proved by compiling that
# file, where it is compiled outside a batch, so velaro_headers builds `target`; every other header gets a file of
# its own that includes only it. Nothing links what these compile.
set_property(GLOBAL PROPERTY VELARO_CHECKED_HEADERS "")
function(velaro_check_headers target dir)
    if(NOT VELARO_TESTS)
        return()
    endif()
    file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.h)
    set_property(GLOBAL APPEND PROPERTY VELARO_CHECKED_HEADERS ${headers})
    if(NOT TARGET velaro_headers)
        add_custom_target(velaro_headers)
    endif()
    add_dependencies(velaro_headers ${target})
    get_target_property(batched ${target} UNITY_BUILD)
    set(sources)
    foreach(header IN LISTS headers)
        file(RELATIVE_PATH included ${CMAKE_SOURCE_DIR}/src ${header})
        string(REGEX REPLACE "\\.h$" ".cpp" own ${header})
        set(first)
        if(EXISTS ${own})
            file(STRINGS ${own} first REGEX "^[ \t]*#" LIMIT_COUNT 1)
        endif()
        file(RELATIVE_PATH own_relative ${CMAKE_SOURCE_DIR} ${own})
        if(first STREQUAL "#include \"${included}\""
           AND (NOT batched OR own_relative IN_LIST VELARO_UNITY_EXCLUDED))
            continue()
        endif()
        set(source ${CMAKE_BINARY_DIR}/header-checks/${included}.cpp)
        # Written only when it changes, so that a new configure run compiles nothing again.
        file(CONFIGURE OUTPUT ${source} CONTENT "// ${included} compiles alone.\n#include \"${included}\"\n" @ONLY)
        list(APPEND sources ${source})
    endforeach()
    if(NOT sources)
        return()
    endif()
    # velaro_headers_platform_linux for src/platform/linux.
    string(REGEX REPLACE "^src/" "" folder ${dir})
    string(REPLACE "/" "_" folder ${folder})
    set(check velaro_headers_${folder})
    add_library(${check} OBJECT EXCLUDE_FROM_ALL ${sources})
    add_dependencies(velaro_headers ${check})
    # Batches would defeat the check; the headers need no generated code to compile, nor debugging information.
    set_target_properties(${check} PROPERTIES UNITY_BUILD OFF AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
    # The target's own settings, its private ones too, and those of everything it links (linked, so that the
    # libraries' headers count as system headers here as they do there).
    target_link_libraries(${check} PRIVATE ${target})
    target_include_directories(${check} PRIVATE $<TARGET_PROPERTY:${target},INCLUDE_DIRECTORIES>)
    target_compile_definitions(${check} PRIVATE $<TARGET_PROPERTY:${target},COMPILE_DEFINITIONS>)
    target_compile_options(${check} PRIVATE $<TARGET_PROPERTY:${target},COMPILE_OPTIONS> -g0)
endfunction()

# Stops the configuration when a header under src/ is in no folder velaro_check_headers compiles: a new folder
# of headers needs its own call, with the target whose files include them.
function(velaro_require_checked_headers)
    if(NOT VELARO_TESTS)
        return()
    endif()
    file(GLOB_RECURSE headers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/*.h)
    get_property(checked GLOBAL PROPERTY VELARO_CHECKED_HEADERS)
    list(REMOVE_ITEM headers ${checked})
    if(headers)
        list(JOIN headers "\n  " unchecked)
        message(FATAL_ERROR "No target compiles these headers alone (velaro_check_headers):\n  ${unchecked}")
    endif()
endfunction()

# velaro_test_suite(name dir... DEPS ...): one GoogleTest executable of every .cpp in the folders tests/`dir`, each
# test a CTest case.
function(velaro_test_suite name)
    cmake_parse_arguments(ARG "" "" "DEPS;LABELS" ${ARGN})
    if(VELARO_TEST_SUITES AND NOT name IN_LIST VELARO_TEST_SUITES)
        return()
    endif()
    set(sources)
    foreach(dir IN LISTS ARG_UNPARSED_ARGUMENTS)
        file(GLOB dir_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${dir}/*.cpp)
        list(APPEND sources ${dir_sources})
    endforeach()
    if(NOT sources)
        return()
    endif()
    velaro_keep_out_of_batches(${sources})
    add_executable(${name} ${sources})
    target_link_libraries(${name} PRIVATE velaro_test_support GTest::gtest GTest::gmock ${ARG_DEPS})
    set(labels unit)
    if(ARG_LABELS)
        set(labels ${ARG_LABELS})
    endif()
    add_dependencies(velaro_unit_tests ${name})
    # Listing a sanitizer build's cases takes seconds on a loaded machine: the 5-second default would drop a
    # whole suite from the run.
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 120
        PROPERTIES LABELS "${labels}" ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
                   ENVIRONMENT_MODIFICATION "${VELARO_LEAK_CHECK}")
endfunction()
