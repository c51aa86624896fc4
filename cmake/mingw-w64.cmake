# Cross build for 64-bit Windows with Debian's mingw-w64 (POSIX threads variant, which has std::thread and
# std::mutex), its tests run under Wine. The core alone (preset mingw-core) needs nothing else; the whole program
# (preset mingw) finds Qt and the other libraries in TANDREL_WIN_PREFIXES (";"-separated), which
# scripts/windows-deps fills.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)  # GoogleTest's project enables C too
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${TANDREL_WIN_PREFIXES})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The core alone links the compiler's runtime statically: its test programs then run under Wine without the
# compiler's DLLs beside them. The whole program shares the runtime DLLs that Qt's own DLLs need anyway.
if(TANDREL_CORE_ONLY)
    set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
endif()
find_program(TANDREL_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TANDREL_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TANDREL_WINE})
endif()
# -O2 rather than -O3: GCC 12 reports false -Wrestrict warnings inside std::string at -O3 (GCC bug 105329),
# and warnings are errors here.
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags of a release build")
