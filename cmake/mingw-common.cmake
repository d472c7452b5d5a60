# What both Windows cross builds share; cmake/mingw-i686.cmake and
# cmake/mingw-x86_64.cmake set TORVANE_MINGW_TRIPLE, the processor and the
# Wine loader, then include this file.
# The -posix compilers give GoogleTest the C++ threads it needs. Everything is
# linked statically, so the .exe files import only system DLLs, and CTest runs
# the test programs through Wine.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${TORVANE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TORVANE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TORVANE_MINGW_TRIPLE}-windres)

# Libraries and headers of the target (zlib from libz-mingw-w64-dev) live
# here; programs always come from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${TORVANE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Take the static zlib archive, not the import library of zlib1.dll.
set(ZLIB_USE_STATIC_LIBS ON)

# No MinGW runtime DLL may be needed beside the programs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

set(CMAKE_CROSSCOMPILING_EMULATOR ${TORVANE_WINE})
