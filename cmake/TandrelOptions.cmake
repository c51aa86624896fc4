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

# tandrel_add_test(name SOURCES ... LIBS ...): one test executable, run by ctest without a display.
function(tandrel_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE tandrel_options GTest::gtest GTest::gtest_main ${ARG_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300)
endfunction()
