#!/usr/bin/env bash
# Installs what is missing, builds the launcher and starts it in a scratch
# game directory (out/game), as a player would start it in theirs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/linux -j"$(nproc)" --target torvane-launcher
mkdir -p out/game
cd out/game
exec ../../build/linux/launcher/torvane-launcher "$@"
