# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (the posix thread model: the win32
# one has no std::thread). Everything links statically, so the programs need only system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TARNWICK_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TARNWICK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARNWICK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TARNWICK_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARNWICK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libz.a, not the import library of zlib1.dll.
set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests run under Wine on the build machine.
find_program(TARNWICK_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TARNWICK_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TARNWICK_WINE})
endif()
