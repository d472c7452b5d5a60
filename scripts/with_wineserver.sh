#!/usr/bin/env bash
# with_wineserver.sh COMMAND [ARG...]
# Runs COMMAND with a wineserver for $WINEPREFIX that stays up between the
# Wine programs COMMAND starts, so that each of them starts quickly and none
# pays for Wine's start-up inside a time-limited test. Wine's system
# processes (services, devices, explorer) are started here first, with
# their output on /dev/null: started by a test program, they would hold the
# test's output pipe open for as long as the wineserver lives. Stops the
# wineserver afterwards and exits with COMMAND's exit code.
# Meant to run inside scripts/in_netns.sh, which gives it a wineserver of
# its own.
set -euo pipefail

if [ "$#" -eq 0 ]; then
  echo "usage: $0 COMMAND [ARG...]" >&2
  exit 2
fi

# Quiet and headless unless the caller chose otherwise: no debug channels, no
# Mono or Gecko installer, no desktop menu entries, no display.
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
unset DISPLAY WAYLAND_DISPLAY

# TORVANE_WINE and WINESERVER name the loader and the server of the
# prefix's variant (scripts/windows_tests.sh); Debian's own by default.
wine=${TORVANE_WINE:-wine}
wineserver=${WINESERVER:-wineserver}

"$wineserver" --persistent
"$wine" wineboot </dev/null >/dev/null 2>&1

status=0
"$@" || status=$?
"$wineserver" --kill
"$wineserver" --wait
exit "$status"
