#!/usr/bin/env bash
# Installs every Debian package that building and testing Torvane Launcher needs.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
  exec sudo -E "$0" "$@"
fi

export DEBIAN_FRONTEND=noninteractive

native_packages=(
  build-essential cmake g++ clang libclang-rt-14-dev
  googletest libgtest-dev
  zlib1g-dev android-libboringssl-dev
  nginx-light curl wget aria2 rsync openssl python3
  iproute2 util-linux procps time strace
)
windows_packages=(
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix libz-mingw-w64-dev
  wine wine32:i386 wine64
)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  rm -f /var/lib/apt/setup-updated
fi

missing=()
for p in "${native_packages[@]}" "${windows_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# The tests and the demo start their own nginx in their own namespaces; a
# package installed here must not start the system's service on the way.
# invoke-rc.d asks policy-rc.d, and 101 means "not now". A policy the
# machine already has is left as it is.
policy=/usr/sbin/policy-rc.d
own_policy=0
cleanup_policy() {
  if [ "$own_policy" = 1 ]; then rm -f "$policy"; fi
}
trap cleanup_policy EXIT

if [ "${#missing[@]}" -gt 0 ]; then
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' > "$policy"
    chmod 755 "$policy"
    own_policy=1
  fi
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
echo "setup: all packages present"
