#!/usr/bin/env bash
# Cross-builds every program for Windows and runs its tests under Wine.
# Called by scripts/test.sh after the Linux parts.
#
# Players get the 32-bit programs (build/windows). Some hosts' kernels run
# no 32-bit programs at all, and Wine's 32-bit loader is one, so which tests
# run depends on the host:
#   - where 32-bit programs run: every test of the 32-bit build under wine,
#     and the unit tests of the same sources built as 64-bit programs
#     (build/windows64) under wine64, so that neither variant breaks unseen;
#   - where they do not: the 32-bit programs are still built and their
#     imports checked, and every test runs on the 64-bit build under wine64.
# TORVANE_TEST_NO_32BIT=1 takes the second way on any host, to prove it.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)

# A 96-byte i386 Linux program that does nothing but exit with code 42. It
# needs no package, so its failure cannot mean that something is missing:
# only that the kernel refuses 32-bit code (ENOEXEC, "Exec format error").
I386_EXIT_42='\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80'

# host_runs_32bit_programs returns 0 when this host runs i386 programs;
# otherwise sets no_32bit_reason and returns 1.
host_runs_32bit_programs() {
  if [ "${TORVANE_TEST_NO_32BIT:-}" = 1 ]; then
    no_32bit_reason="TORVANE_TEST_NO_32BIT=1 is set"
    return 1
  fi
  local probe status=0
  probe=$(mktemp)
  printf "$I386_EXIT_42" > "$probe"
  chmod 700 "$probe"
  "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  if [ "$status" = 42 ]; then
    return 0
  fi
  no_32bit_reason="its kernel does not execute i386 programs (exit code $status)"
  return 1
}

# cross_build BUILD TOOLCHAIN builds every program into BUILD.
cross_build() {
  local build=$1 toolchain=$2
  echo "== Windows cross build in $build ($toolchain)"
  cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j"$jobs"
}

# check_imports BUILD OBJDUMP: static linking means a player needs nothing
# beside the .exe, so every import must be a DLL that Windows itself ships.
check_imports() {
  local build=$1 objdump=$2 exe dll
  local system_dlls='^(kernel32|msvcrt|advapi32|shell32|user32|ws2_32|bcrypt)\.dll$'
  while IFS= read -r exe; do
    while IFS= read -r dll; do
      if ! grep -qiE "$system_dlls" <<<"$dll"; then
        echo "windows_tests: $exe imports $dll, which is not a system DLL" >&2
        exit 1
      fi
    done < <("$objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p')
  done < <(find "$build" -name '*.exe' -not -path '*/CMakeFiles/*' -not -path "$build/wine/*")
  echo "windows_tests: every program in $build imports only system DLLs"
}

# use_wine BUILD ARCH WINE WINESERVER points Wine at the prefix of BUILD,
# run by the program WINE (which CTest also finds in the build's toolchain):
# no display, no Mono or Gecko installer, no desktop menu entries, nothing
# that may open a window or wait for a click. The prefix is made once, on
# the first run in this build directory.
use_wine() {
  local build=$1
  export WINEPREFIX="$PWD/$build/wine"
  export WINEARCH=$2
  export TORVANE_WINE=$3
  export WINESERVER=$4
  # Wine starts child processes (a launcher's game client) with the loader
  # it names here; Debian's wine script sets it the same way for wine64.
  if [ "$WINEARCH" = win64 ]; then export WINELOADER=$TORVANE_WINE; fi
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  unset DISPLAY WAYLAND_DISPLAY
  local prefix_ready="$WINEPREFIX/.torvane-prefix-ready"
  if [ ! -f "$prefix_ready" ]; then
    echo "== Wine prefix in $WINEPREFIX ($WINEARCH)"
    rm -rf "$WINEPREFIX"
    "$TORVANE_WINE" wineboot --init >/dev/null 2>&1
    "$WINESERVER" --wait
    touch "$prefix_ready"
  fi
}

# run_tests BUILD [CTEST-ARG...] runs the tests of BUILD in private network
# and PID namespaces with their own wineserver: port 80 on loopback is free,
# and no Wine process outlives them.
run_tests() {
  local build=$1
  shift
  scripts/in_netns.sh scripts/with_wineserver.sh \
    ctest --test-dir "$build" --output-on-failure "$@"
}

wineserver_of() {
  if [ -x "/usr/lib/wine/wineserver$1" ]; then echo "/usr/lib/wine/wineserver$1"; else command -v wineserver; fi
}

build32=build/windows
build64=build/windows64

cross_build "$build32" cmake/mingw-i686.cmake
check_imports "$build32" i686-w64-mingw32-objdump
cross_build "$build64" cmake/mingw-x86_64.cmake
check_imports "$build64" x86_64-w64-mingw32-objdump

if host_runs_32bit_programs; then
  echo "windows_tests: this host runs 32-bit programs: every Windows test runs as a 32-bit program under wine, and the unit tests also as 64-bit programs under wine64"
  (
    use_wine "$build32" win32 wine "$(wineserver_of 32)"
    echo "== Windows unit and process tests, 32-bit programs under wine"
    run_tests "$build32"
  )
  (
    use_wine "$build64" win64 /usr/lib/wine/wine64 "$(wineserver_of 64)"
    echo "== Windows unit tests, 64-bit programs under wine64"
    run_tests "$build64" -L unit
  )
else
  echo "windows_tests: this host runs no 32-bit programs ($no_32bit_reason): Windows tests run as 64-bit programs under wine64; the 32-bit programs were built and their imports checked"
  (
    use_wine "$build64" win64 /usr/lib/wine/wine64 "$(wineserver_of 64)"
    echo "== Windows unit and process tests, 64-bit programs under wine64"
    run_tests "$build64"
  )
fi
