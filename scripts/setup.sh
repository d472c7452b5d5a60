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
  nginx-light curl wget openssl python3
  iproute2 util-linux procps time strace
)
windows_packages=(
  g++-mingw-w64-i686-posix libz-mingw-w64-dev
  wine wine32:i386
)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  rm -f /var/lib/apt/setup-updated
fi

missing=()
for p in "${native_packages[@]}" "${windows_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# nginx must not run as a system service: the tests start their own on loopback.
if command -v systemctl >/dev/null 2>&1; then systemctl disable --now nginx >/dev/null 2>&1 || true; fi
pkill -x nginx >/dev/null 2>&1 || true
echo "setup: all packages present"
