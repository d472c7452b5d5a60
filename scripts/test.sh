#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test:
# Linux native, the README's main command once without a player, the unit
# tests under AddressSanitizer and UndefinedBehaviorSanitizer, the Windows
# build under Wine, and the fuzz targets for a bounded time. Ends with one
# line that totals the test programs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
ctest_log=$(mktemp)
trap 'rm -f "$ctest_log"' EXIT

echo "== Linux native build and tests"
cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/linux -j"$jobs"
ctest --test-dir build/linux --output-on-failure | tee -a "$ctest_log"

echo "== The main command (scripts/run.sh), without a player"
bash scripts/check_demo.sh

echo "== Unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug -DTORVANE_SANITIZE=ON >/dev/null
cmake --build build/sanitize -j"$jobs"
ctest --test-dir build/sanitize --output-on-failure -L unit | tee -a "$ctest_log"

bash scripts/windows_tests.sh | tee -a "$ctest_log"

echo "== Fuzz targets, FUZZ_SECONDS each (default 60)"
bash scripts/fuzz.sh

# Every ctest run above passed, or set -e would have stopped the script.
total=$(awk '/tests failed out of/ { sum += $NF } END { print sum + 0 }' "$ctest_log")
echo "summary: $total passed, 0 failed"
