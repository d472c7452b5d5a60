#!/bin/bash
# Download benchmark: nginx on loopback serves a file of random bytes (1 GiB
# by default); download_bench (qarn_http_downloader in file mode) and
# `curl -s -o` fetch it in turn, RUNS runs each, alternating which goes
# first, and the script prints the wall-time ratio of the medians, both
# peak memory figures and, from one more download of each under
# `strace -c -f`, the number of receive calls per GiB.
#
# Not a test: it fails only when something cannot be set up or a download
# goes wrong, never on timing.
#
# Environment: BUILD_DIR (default build-bench under the source tree), RUNS
# (default 6), SIZE_MIB (default 1024), OUT_DIR (where the downloads are
# written, default a scratch directory under /tmp).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build-bench}
RUNS=${RUNS:-6}
SIZE_MIB=${SIZE_MIB:-1024}
NGINX=/usr/sbin/nginx
TIME=/usr/bin/time
TARGET_RATIO=1.0
TARGET_PEAK_KIB=8192
GIB=1073741824

for tool in "$NGINX" "$TIME" curl cmake python3 strace; do
  command -v "$tool" >/dev/null || { echo "download_bench: $tool is missing" >&2; exit 1; }
done

echo "Building download_bench in $BUILD_DIR ..."
cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DTORVANE_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD_DIR" -j2 --target download_bench >/dev/null
BENCH=$BUILD_DIR/bench/download_bench

WORK=$(mktemp -d /tmp/torvane_download_bench.XXXXXX)
NGINX_PID=""
cleanup() {
  if [ -n "$NGINX_PID" ]; then
    kill "$NGINX_PID" 2>/dev/null || true
    wait "$NGINX_PID" 2>/dev/null || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT
mkdir -p "$WORK/docroot" "$WORK/out"
OUT=${OUT_DIR:-$WORK/out}
mkdir -p "$OUT"

echo "Writing $SIZE_MIB MiB of random bytes ..."
head -c $((SIZE_MIB * 1024 * 1024)) /dev/urandom > "$WORK/docroot/big.bin"
SIZE=$(stat -c %s "$WORK/docroot/big.bin")

PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
USER_LINE=""
if [ "$(id -u)" = 0 ]; then
  USER_LINE="user root;"
fi
cat > "$WORK/nginx.conf" <<EOF
daemon off;
master_process on;
worker_processes 1;
$USER_LINE
pid $WORK/nginx.pid;
error_log $WORK/error.log warn;
events { worker_connections 64; }
http {
  access_log $WORK/access.log;
  client_body_temp_path $WORK/client_body;
  proxy_temp_path $WORK/proxy;
  fastcgi_temp_path $WORK/fastcgi;
  uwsgi_temp_path $WORK/uwsgi;
  scgi_temp_path $WORK/scgi;
  default_type application/octet-stream;
  sendfile on;
  server {
    listen 127.0.0.1:$PORT;
    root $WORK/docroot;
  }
}
EOF
"$NGINX" -p "$WORK/" -c "$WORK/nginx.conf" >"$WORK/nginx.out" 2>&1 &
NGINX_PID=$!
for _ in $(seq 100); do
  if curl -s -o /dev/null "http://127.0.0.1:$PORT/"; then
    break
  fi
  sleep 0.1
done
curl -s -o /dev/null "http://127.0.0.1:$PORT/" || { echo "download_bench: nginx did not start" >&2; cat "$WORK/nginx.out" "$WORK/error.log" >&2; exit 1; }

# seconds_of turns the wall time of time -v (h:mm:ss or m:ss.ss) into seconds.
seconds_of() {
  grep "Elapsed (wall clock)" "$1" | awk '{ n = split($NF, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }'
}
# cpu_seconds_of adds the user and system time of time -v.
cpu_seconds_of() {
  awk -F': ' '/User time|System time/ { s += $2 } END { print s }' "$1"
}
peak_kib_of() {
  grep "Maximum resident set size" "$1" | awk '{ print $NF }'
}
median() {
  sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
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

OURS_TIMES=""
CURL_TIMES=""
OURS_CPU=""
CURL_CPU=""
OURS_PEAK=0
CURL_PEAK=0
URL="http://127.0.0.1:$PORT/big.bin"
run_ours() {
  "$@" "$BENCH" 127.0.0.1 "$PORT" /big.bin "$OUT/ours.bin" >"$WORK/ours.log"
  check_output "$OUT/ours.bin" download_bench
}
run_curl() {
  "$@" curl -s -o "$OUT/curl.bin" "$URL"
  check_output "$OUT/curl.bin" curl
}
for run in $(seq "$RUNS"); do
  # Alternate which goes first, so that neither always meets the machine in
  # the same state.
  if [ $((run % 2)) = 1 ]; then
    run_ours "$TIME" -v -o "$WORK/ours.$run"
    run_curl "$TIME" -v -o "$WORK/curl.$run"
  else
    run_curl "$TIME" -v -o "$WORK/curl.$run"
    run_ours "$TIME" -v -o "$WORK/ours.$run"
  fi
  ours=$(seconds_of "$WORK/ours.$run")
  theirs=$(seconds_of "$WORK/curl.$run")
  OURS_TIMES="$OURS_TIMES $ours"
  CURL_TIMES="$CURL_TIMES $theirs"
  OURS_CPU="$OURS_CPU $(cpu_seconds_of "$WORK/ours.$run")"
  CURL_CPU="$CURL_CPU $(cpu_seconds_of "$WORK/curl.$run")"
  OURS_PEAK=$(( $(peak_kib_of "$WORK/ours.$run") > OURS_PEAK ? $(peak_kib_of "$WORK/ours.$run") : OURS_PEAK ))
  CURL_PEAK=$(( $(peak_kib_of "$WORK/curl.$run") > CURL_PEAK ? $(peak_kib_of "$WORK/curl.$run") : CURL_PEAK ))
  printf 'run %d: download_bench %6.2f s   curl %6.2f s\n' "$run" "$ours" "$theirs"
done

# recv_per_gib counts the receive calls in an strace -c summary, scaled to
# one GiB of body.
recv_per_gib() {
  awk -v size="$SIZE" -v gib="$GIB" '$NF ~ /^(recv|recvfrom|recvmsg)$/ { n += $4 }
    END { printf "%.0f", n * gib / size }' "$1"
}
echo "Counting system calls of one more download each under strace ..."
run_ours strace -f -c -o "$WORK/ours.strace"
run_curl strace -f -c -o "$WORK/curl.strace"
OURS_RECV=$(recv_per_gib "$WORK/ours.strace")
CURL_RECV=$(recv_per_gib "$WORK/curl.strace")

OURS_MEDIAN=$(echo "$OURS_TIMES" | tr ' ' '\n' | grep . | median)
CURL_MEDIAN=$(echo "$CURL_TIMES" | tr ' ' '\n' | grep . | median)
RATIO=$(awk -v a="$OURS_MEDIAN" -v b="$CURL_MEDIAN" 'BEGIN { if (b > 0) printf "%.3f", a / b; else print "n/a" }')
# The processor time is what a busy machine disturbs least.
OURS_CPU_MEDIAN=$(echo "$OURS_CPU" | tr ' ' '\n' | grep . | median)
CURL_CPU_MEDIAN=$(echo "$CURL_CPU" | tr ' ' '\n' | grep . | median)
CPU_RATIO=$(awk -v a="$OURS_CPU_MEDIAN" -v b="$CURL_CPU_MEDIAN" 'BEGIN { if (b > 0) printf "%.3f", a / b; else print "n/a" }')

verdict() {
  if [ "$1" = yes ]; then echo "within target"; else echo "ABOVE TARGET"; fi
}
RATIO_OK=$(awk -v r="$RATIO" -v t="$TARGET_RATIO" 'BEGIN { print (r != "n/a" && r <= t) ? "yes" : "no" }')
PEAK_OK=$([ "$OURS_PEAK" -lt "$TARGET_PEAK_KIB" ] && echo yes || echo no)

echo
echo "file: $SIZE bytes, $RUNS runs each, nginx on 127.0.0.1:$PORT"
printf 'median wall time: download_bench %.2f s, curl %.2f s\n' "$OURS_MEDIAN" "$CURL_MEDIAN"
echo "wall-time ratio (download_bench / curl): $RATIO (target <= $TARGET_RATIO: $(verdict "$RATIO_OK"))"
printf 'median processor time (user + system): download_bench %.2f s, curl %.2f s, ratio %s\n' \
  "$OURS_CPU_MEDIAN" "$CURL_CPU_MEDIAN" "$CPU_RATIO"
echo "peak memory: download_bench $OURS_PEAK KiB (target < $TARGET_PEAK_KIB KiB: $(verdict "$PEAK_OK")), curl $CURL_PEAK KiB"
echo "receive calls per GiB: download_bench $OURS_RECV, curl $CURL_RECV"
