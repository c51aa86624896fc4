# One place for the language level, warnings and sanitizers of every target.
add_library(tandrel_options INTERFACE)
target_compile_features(tandrel_options INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
target_compile_options(tandrel_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                                 -Wno-sign-conversion)
if(TANDREL_WARNINGS_AS_ERRORS)
    target_compile_options(tandrel_options INTERFACE -Werror)
endif()
if(TANDREL_SANITIZE)
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

# tandrel_add_test(name [OWN_MAIN] SOURCES ... LIBS ...): one test executable, run by ctest without a display.
# OWN_MAIN: the test brings its own main() (to create an application object first).
function(tandrel_add_test name)
    cmake_parse_arguments(ARG "OWN_MAIN" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE tandrel_options GTest::gtest ${ARG_LIBS})
    if(NOT ARG_OWN_MAIN)
        target_link_libraries(${name} PRIVATE GTest::gtest_main)
    endif()
    add_test(NAME ${name} COMMAND ${name})
    # Tests reach only servers they start on 127.0.0.1, whatever proxy the machine has.
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;no_proxy=127.0.0.1,localhost"
                                            TIMEOUT 300)
endfunction()
