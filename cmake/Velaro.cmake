# Helpers that keep each subsystem's build description to one line: sources are the folder's own files.

# Whole builds (scripts/test, CI) compile each target's files in batches of CMAKE_UNITY_BUILD_BATCH_SIZE
# (-DCMAKE_UNITY_BUILD=ON): a debug build with sanitizers spends most of its time parsing and instantiating the
# same Qt, GoogleTest and JSON templates again in every file, and a batch does that once (a batch's headers are
# parsed once too, so precompiled headers saved nothing measurable on top and cost their own build). The files
# below cannot share a batch: they use a name that Qt defines as a keyword macro ("signals" in GLib's headers,
# "slots"), or their file-local names are also defined in files beside them. A file that breaks a batch build goes
# here (or renames what clashes), as does one whose class members have types of its own anonymous namespace (GCC
# warns of their linkage once the file is included in a batch). The tests' shared main() stays an object of its
# own, so that a program with its own main() that links the test support does not get the shared one too.
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
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        PROPERTIES LABELS "${labels}" ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
                   ENVIRONMENT_MODIFICATION "${VELARO_LEAK_CHECK}")
endfunction()
