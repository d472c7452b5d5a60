#!/usr/bin/env bash
# Builds every libFuzzer target of tests/fuzz with clang in build/fuzz and
# runs each for a bounded time (FUZZ_SECONDS, default 60) from its seed
# corpus in tests/fuzz/corpus/<name without _fuzz>/. New corpus entries and
# crash artifacts stay under build/fuzz. Exits non-zero on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-60}"
build=build/fuzz
jobs=$(nproc)

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTORVANE_FUZZ=ON >/dev/null

targets=()
for source in tests/fuzz/*_fuzz.cc; do
  targets+=("$(basename "$source" .cc)")
done
if [ "${#targets[@]}" -eq 0 ]; then
  echo "no fuzz targets in tests/fuzz" >&2
  exit 1
fi
cmake --build "$build" -j"$jobs" --target "${targets[@]}"

# Longest input of a target, where the default that libFuzzer derives from
# the seed corpus would stay short of a bound under test (0: that default).
max_len_of() {
  case "$1" in
    # A header or trailer section may take 64 KiB; past it the message
    # fails. Room for one section over the bound, a first line and a body.
    http_processor_fuzz) echo 131072 ;;
    *) echo 0 ;;
  esac
}

status=0
for target in "${targets[@]}"; do
  seeds="tests/fuzz/corpus/${target%_fuzz}"
  corpus="$build/corpus/${target%_fuzz}"
  artifacts="$build/artifacts/$target/"
  mkdir -p "$corpus" "$artifacts"
  echo "== $target for ${seconds} s"
  if ! "$build/tests/fuzz/$target" -max_total_time="$seconds" -max_len="$(max_len_of "$target")" \
      -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$artifacts" -print_final_stats=1 "$corpus" "$seeds"; then
    echo "FAIL: $target found a problem; see $artifacts" >&2
    status=1
  fi
done
exit "$status"
