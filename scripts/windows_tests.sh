#!/usr/bin/env bash
# Cross-builds every program as a 32-bit Windows console program into
# build/windows and runs all of its tests (unit tests and the launcher's
# process-level tests) under Wine. Called by scripts/test.sh after the Linux
# parts.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/windows
jobs=$(nproc)

echo "== Windows cross build"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs"

# Static linking means a player needs nothing beside the .exe: every import
# must be a DLL that Windows itself ships.
system_dlls='^(kernel32|msvcrt|advapi32|shell32|user32|ws2_32|bcrypt)\.dll$'
while IFS= read -r exe; do
  while IFS= read -r dll; do
    if ! grep -qiE "$system_dlls" <<<"$dll"; then
      echo "windows_tests: $exe imports $dll, which is not a system DLL" >&2
      exit 1
    fi
  done < <(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
done < <(find "$build" -name '*.exe' -not -path '*/CMakeFiles/*' -not -path "$build/wine/*")

# Wine without a display, without the Mono and Gecko installers and without
# desktop menu entries: nothing may open a window or wait for a click.
export WINEPREFIX="$PWD/$build/wine"
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

# The prefix is made once, on the first run in this build directory.
prefix_ready="$WINEPREFIX/.torvane-prefix-ready"
if [ ! -f "$prefix_ready" ]; then
  echo "== Wine prefix in $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  wineboot --init >/dev/null 2>&1
  wineserver --wait
  touch "$prefix_ready"
fi

# The tests run in private network and PID namespaces with their own
# wineserver: port 80 on loopback is free, and no Wine process outlives them.
echo "== Windows unit and process tests under Wine"
scripts/in_netns.sh scripts/with_wineserver.sh \
  ctest --test-dir "$build" --output-on-failure
