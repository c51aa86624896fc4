# One place for the language level, warnings and sanitizers of every target.
add_library(tandrel_options INTERFACE)
target_compile_features(tandrel_options INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
if(MSVC)
    # Sources are UTF-8 (the Chinese texts in them); no min/max macros from <windows.h>.
    target_compile_options(tandrel_options INTERFACE /W4 /utf-8 /permissive- /Zc:__cplusplus)
    target_compile_definitions(tandrel_options INTERFACE NOMINMAX WIN32_LEAN_AND_MEAN _CRT_SECURE_NO_WARNINGS)
    if(TANDREL_WARNINGS_AS_ERRORS)
        target_compile_options(tandrel_options INTERFACE /WX)
    endif()
else()
    target_compile_options(tandrel_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                                     -Wno-sign-conversion)
    if(TANDREL_WARNINGS_AS_ERRORS)
        target_compile_options(tandrel_options INTERFACE -Werror)
    endif()
endif()
if(TANDREL_SANITIZE AND NOT MSVC)
    target_compile_options(tandrel_options INTERFACE -fsanitize=address,undefined -fno-sanitize-recover=all
                                                     -fno-omit-frame-pointer)
    target_link_options(tandrel_options INTERFACE -fsanitize=address,undefined)
endif()
if(TANDREL_FUZZ)
    # Coverage for libFuzzer in every library; the fuzz targets add the fuzzer's main when they link.
    target_compile_options(tandrel_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined
                                                     -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(tandrel_options INTERFACE -fsanitize=address,undefined)
endif()

# tandrel_add_test(name [QT_CORE_APP | QT_APP | WINDOW_APP | OWN_MAIN] SOURCES ... LIBS ...): one test
# executable, run by ctest without a display. Its main() is GoogleTest's, unless: QT_CORE_APP makes a
# QCoreApplication first, QT_APP a QApplication, WINDOW_APP a QApplication with the program's resources and
# unattended message boxes (tests/common/*_test_main.cpp); OWN_MAIN: the test brings its own. WINDOWS_SKIP
# "Suite.Case:..." leaves those cases out of the Windows run (the README says which and why).
function(tandrel_add_test name)
    cmake_parse_arguments(ARG "OWN_MAIN;QT_CORE_APP;QT_APP;WINDOW_APP" "WINDOWS_SKIP" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE tandrel_options GTest::gtest ${ARG_LIBS})
    if(ARG_QT_CORE_APP)
        target_link_libraries(${name} PRIVATE tandrel_core_test_main)
    elseif(ARG_QT_APP)
        target_link_libraries(${name} PRIVATE tandrel_gui_test_main)
    elseif(ARG_WINDOW_APP)
        target_link_libraries(${name} PRIVATE tandrel_window_test_main)
    elseif(NOT ARG_OWN_MAIN)
        target_link_libraries(${name} PRIVATE GTest::gtest_main)
    endif()
    add_test(NAME ${name} COMMAND ${name})
    # Tests reach only servers they start on 127.0.0.1, whatever proxy the machine has.
    set(environment "QT_QPA_PLATFORM=offscreen;no_proxy=127.0.0.1,localhost")
    if(WIN32 AND ARG_WINDOWS_SKIP)
        list(APPEND environment "GTEST_FILTER=-${ARG_WINDOWS_SKIP}")
    endif()
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${environment}" TIMEOUT 300)
endfunction()
