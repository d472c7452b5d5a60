# Cross build of the 32-bit Windows console programs that players get.
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
# CTest runs the test programs with Wine's 32-bit loader.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TORVANE_MINGW_TRIPLE i686-w64-mingw32)
find_program(TORVANE_WINE wine REQUIRED)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
