#!/usr/bin/env bash
# in_netns.sh COMMAND [ARG...]
# Runs COMMAND in private network, PID and mount namespaces. The network
# namespace has only a loopback interface, brought up here, so port 80 on
# 127.0.0.1 is free for the update server of a test. The PID namespace ends
# every process that COMMAND leaves behind (Wine's wineserver and helpers)
# when COMMAND ends.
# Wine finds its wineserver through a socket in a directory under /tmp
# (/tmp/.wine-UID, or on Debian the /tmp/wine-XXXXXX named in the prefix's
# "wineserver" file). Those directories are covered here with private, empty
# ones, so that Wine starts its own wineserver inside the namespace instead of
# silently joining one outside, whose sockets live on the other loopback.
# Exits with COMMAND's exit code.
set -euo pipefail

if [ "$#" -eq 0 ]; then
  echo "usage: $0 COMMAND [ARG...]" >&2
  exit 2
fi

if [ "$1" != "--inside-namespaces" ]; then
  # An ordinary user gets the namespaces through a user namespace of its own.
  as_root=()
  if [ "$(id -u)" -ne 0 ]; then as_root=(--map-root-user); fi
  exec unshare "${as_root[@]}" --net --pid --fork --mount-proc \
    bash "$0" --inside-namespaces "$@"
fi
shift

ip link set lo up
hide_directory() {
  mkdir -p "$1"
  mount -t tmpfs -o mode=0700 tmpfs "$1"
}
hide_directory "/tmp/.wine-$(id -u)"
for dir in /tmp/wine-*; do
  if [ -d "$dir" ] && [ -O "$dir" ]; then hide_directory "$dir"; fi
done
if [ -n "${WINEPREFIX:-}" ] && [ -f "$WINEPREFIX/wineserver" ]; then
  named_dir="/tmp/$(head -c 64 "$WINEPREFIX/wineserver")"
  if ! mountpoint -q "$named_dir"; then hide_directory "$named_dir"; fi
fi

# This shell stays PID 1 of the namespace so that it reaps orphans; when it
# exits the kernel ends whatever is left in the namespace.
status=0
"$@" || status=$?
exit "$status"
