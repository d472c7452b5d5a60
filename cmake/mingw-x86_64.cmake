# Cross build of the same sources as 64-bit Windows console programs, for
# testing on hosts whose kernel runs no 32-bit programs (scripts/windows_tests.sh).
#   cmake -S . -B build/windows64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
# CTest runs the test programs with Wine's 64-bit loader, which Debian's
# wine64 package installs outside PATH; it needs a win64 prefix.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TORVANE_MINGW_TRIPLE x86_64-w64-mingw32)
find_program(TORVANE_WINE wine64 PATHS /usr/lib/wine REQUIRED)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
