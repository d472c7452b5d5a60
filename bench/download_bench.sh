#!/bin/bash
# Download benchmark: nginx on loopback serves a file of random bytes (1 GiB
# by default), fetched in turn, RUNS rounds, the order rotating each round:
#
#   ours           download_bench (qarn_http_downloader in file mode)
#   ours+verify    download_bench checking size and SHA-256 as the bytes
#                  arrive, as the updater does for a release that declares
#                  SHA-256 tokens
#   curl           curl -s -o
#   curl+sha256sum curl -s -o, then sha256sum of the file
#
# It prints the median wall times and their ratios (ours / curl, and
# ours+verify against curl and against curl+sha256sum), the median
# processor-time ratio, peak memory, and from one more download of each
# under `strace -c -f` the number of receive calls per GiB.
#
# Not a test: it fails only when something cannot be set up or a download
# goes wrong, never on timing.
#
# Environment: BUILD_DIR (default build-bench under the source tree), RUNS
# (default 6), SIZE_MIB (default 1024), OUT_DIR (where the downloads are
# written, default a scratch directory under /tmp).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/bench_lib.sh
. "$ROOT/bench/bench_lib.sh"

BUILD_DIR=${BUILD_DIR:-$ROOT/build-bench}
RUNS=${RUNS:-6}
SIZE_MIB=${SIZE_MIB:-1024}
TARGET_RATIO=0.6
TARGET_VERIFIED_RATIO=0.7
TARGET_PEAK_KIB=8192
GIB=1073741824

require_tools "$NGINX" "$TIME" curl cmake python3 strace sha256sum

echo "Building download_bench in $BUILD_DIR ..."
cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DTORVANE_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD_DIR" -j2 --target download_bench >/dev/null
BENCH=$BUILD_DIR/bench/download_bench

WORK=$(mktemp -d /tmp/torvane_download_bench.XXXXXX)
cleanup() {
  stop_nginx
  rm -rf "$WORK"
}
trap cleanup EXIT
mkdir -p "$WORK/docroot" "$WORK/out"
OUT=${OUT_DIR:-$WORK/out}
mkdir -p "$OUT"

echo "Writing $SIZE_MIB MiB of random bytes ..."
head -c $((SIZE_MIB * 1024 * 1024)) /dev/urandom > "$WORK/docroot/big.bin"
SIZE=$(stat -c %s "$WORK/docroot/big.bin")
DIGEST=$(sha256sum "$WORK/docroot/big.bin" | cut -d' ' -f1)

PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
start_nginx "$WORK/nginx" "$PORT" "$WORK/docroot"
URL="http://127.0.0.1:$PORT/big.bin"

# cpu_seconds_of adds the user and system time of time -v.
cpu_seconds_of() {
  awk -F': ' '/User time|System time/ { s += $2 } END { print s }' "$1"
}

check_output() {
  local file=$1 who=$2
  if ! cmp -s "$file" "$WORK/docroot/big.bin"; then
    echo "download_bench: $who delivered a file that differs from the served one" >&2
    exit 1
  fi
  rm -f "$file"
  # The next download must not pay for writing this one back to the disk.
  sync
}

# Each tool runs as: PREFIX... (time -v or strace) before its command.
run_tool() {
  local tool=$1
  shift
  case $tool in
    ours)
      "$@" "$BENCH" 127.0.0.1 "$PORT" /big.bin "$OUT/ours.bin" >"$WORK/ours.log"
      check_output "$OUT/ours.bin" download_bench ;;
    ours_verify)
      "$@" "$BENCH" 127.0.0.1 "$PORT" /big.bin "$OUT/verified.bin" "$SIZE" "$DIGEST" >"$WORK/verified.log"
      check_output "$OUT/verified.bin" "download_bench with verification" ;;
    curl)
      "$@" curl -s -o "$OUT/curl.bin" "$URL"
      check_output "$OUT/curl.bin" curl ;;
    curl_sha256sum)
      "$@" sh -c 'curl -s -o "$1" "$2" && sha256sum "$1" > "$1.sum"' sh "$OUT/curl2.bin" "$URL"
      [ "$(cut -d' ' -f1 "$OUT/curl2.bin.sum")" = "$DIGEST" ] || { echo "download_bench: sha256sum disagrees" >&2; exit 1; }
      rm -f "$OUT/curl2.bin.sum"
      check_output "$OUT/curl2.bin" "curl with sha256sum" ;;
  esac
}

TOOLS=(ours ours_verify curl curl_sha256sum)
declare -A WALL CPU PEAK
for tool in "${TOOLS[@]}"; do WALL[$tool]=""; CPU[$tool]=""; PEAK[$tool]=0; done
for run in $(seq "$RUNS"); do
  # Rotate the order, so that no tool always meets the machine in the same
  # state.
  line="run $run:"
  for i in 0 1 2 3; do
    tool=${TOOLS[$(((i + run) % 4))]}
    run_tool "$tool" "$TIME" -v -o "$WORK/$tool.$run"
    seconds=$(seconds_of "$WORK/$tool.$run")
    WALL[$tool]="${WALL[$tool]} $seconds"
    CPU[$tool]="${CPU[$tool]} $(cpu_seconds_of "$WORK/$tool.$run")"
    peak=$(peak_kib_of "$WORK/$tool.$run")
    if [ "$peak" -gt "${PEAK[$tool]}" ]; then PEAK[$tool]=$peak; fi
    line="$line  $tool $seconds s"
  done
  echo "$line"
done

# recv_per_gib counts the receive calls in an strace -c summary, scaled to
# one GiB of body.
recv_per_gib() {
  awk -v size="$SIZE" -v gib="$GIB" '$NF ~ /^(recv|recvfrom|recvmsg)$/ { n += $4 }
    END { printf "%.0f", n * gib / size }' "$1"
}
echo "Counting system calls of one more download each under strace ..."
run_tool ours strace -f -c -o "$WORK/ours.strace"
run_tool curl strace -f -c -o "$WORK/curl.strace"

med() { echo "$1" | tr ' ' '\n' | grep . | median; }
OURS=$(med "${WALL[ours]}"); VERIFIED=$(med "${WALL[ours_verify]}")
CURL=$(med "${WALL[curl]}"); CURL_SUM=$(med "${WALL[curl_sha256sum]}")
RATIO=$(ratio "$OURS" "$CURL")
VERIFIED_RATIO=$(ratio "$VERIFIED" "$CURL")
VERIFIED_SUM_RATIO=$(ratio "$VERIFIED" "$CURL_SUM")
CPU_RATIO=$(ratio "$(med "${CPU[ours]}")" "$(med "${CPU[curl]}")")

echo
echo "file: $SIZE bytes, $RUNS rounds of each, nginx on 127.0.0.1:$PORT"
printf 'median wall time: ours %.2f s, ours+verify %.2f s, curl %.2f s, curl+sha256sum %.2f s\n' \
  "$OURS" "$VERIFIED" "$CURL" "$CURL_SUM"
echo "ratio ours / curl: $RATIO (target <= $TARGET_RATIO: $(verdict "$RATIO" "$TARGET_RATIO"))"
echo "ratio ours+verify / curl: $VERIFIED_RATIO (target <= $TARGET_VERIFIED_RATIO: $(verdict "$VERIFIED_RATIO" "$TARGET_VERIFIED_RATIO"))"
echo "ratio ours+verify / curl+sha256sum: $VERIFIED_SUM_RATIO"
echo "median processor time ratio (user + system), ours / curl: $CPU_RATIO"
echo "peak memory: ours ${PEAK[ours]} KiB, ours+verify ${PEAK[ours_verify]} KiB (target < $TARGET_PEAK_KIB KiB: $(verdict "${PEAK[ours_verify]}" "$TARGET_PEAK_KIB")), curl ${PEAK[curl]} KiB"
echo "receive calls per GiB: ours $(recv_per_gib "$WORK/ours.strace"), curl $(recv_per_gib "$WORK/curl.strace")"
