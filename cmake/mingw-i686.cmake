# Cross build of the 32-bit Windows console programs with MinGW-w64.
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
# The -posix compilers give GoogleTest the C++ threads it needs. Everything is
# linked statically, so the .exe files import only system DLLs, and CTest runs
# the test programs through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(TORVANE_MINGW_TRIPLE i686-w64-mingw32)
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

find_program(TORVANE_WINE wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${TORVANE_WINE})
