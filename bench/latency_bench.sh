#!/bin/bash
# Latency benchmark: every client reaches nginx through bench/delay_proxy,
# which makes loopback look far away: LATENCY_DELAY_MS (default 25) each
# way, so a 50 ms round trip, and one round trip more for every new
# connection, as its TCP handshake would cost. One proxy on 127.0.0.1:80
# serves every tool of a case; everything runs in private network and PID
# namespaces, so port 80, the launcher's, is free.
#
#   (a) LATENCY_FILES (default 2000) files of 4 KiB into an empty
#       installation: update_bench (the launcher's updater, as
#       bench/update_bench.sh runs it) against `wget -i` (one connection,
#       keep-alive), `curl --parallel --parallel-max 8` and `aria2c -j 8`;
#       update_bench runs with its default downloads in flight and again
#       with eight, as many as the parallel peers;
#   (b) one file of LATENCY_BIG_MIB (default 256) MiB, the proxy also
#       limiting each connection to LATENCY_RATE_MIB (default 40) MiB/s in
#       each direction: update_bench (which checks the file's size and
#       SHA-256 as it arrives) against `curl -o`.
#
# LATENCY_RUNS (default 5) rounds of each case, the order of the tools
# rotating from round to round; prints every time, the medians and the
# ratios. Not a test: it fails only when something cannot be set up or a
# tool does not deliver every file intact, never on timing.
#
# Environment: BUILD_DIR (default build-bench under the source tree),
# LATENCY_RUNS, LATENCY_FILES, LATENCY_BIG_MIB, LATENCY_DELAY_MS,
# LATENCY_RATE_MIB, and LATENCY_BASELINE: the path of an update_bench built
# from another version of the launcher, run in (a) beside ours for the
# ratio against it.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" != "--inside-namespaces" ]; then
  exec "$ROOT/scripts/in_netns.sh" bash "$0" --inside-namespaces
fi
# shellcheck source=bench/bench_lib.sh
. "$ROOT/bench/bench_lib.sh"

BUILD_DIR=${BUILD_DIR:-$ROOT/build-bench}
RUNS=${LATENCY_RUNS:-5}
FILES=${LATENCY_FILES:-2000}
BIG_MIB=${LATENCY_BIG_MIB:-256}
DELAY_MS=${LATENCY_DELAY_MS:-25}
RATE_MIB=${LATENCY_RATE_MIB:-40}
BASELINE=${LATENCY_BASELINE:-}
NGINX_PORT=8080
PROXY_PORT=80
# Targets: (a) at most the best parallel peer, and at most this share of
# the baseline launcher's time; (b) at most this share of curl's.
FILES_TARGET=1.0
BASELINE_TARGET=0.15
BIG_TARGET=1.05

require_tools "$NGINX" "$TIME" curl wget aria2c cmake python3 cmp
if [ -n "$BASELINE" ] && [ ! -x "$BASELINE" ]; then
  echo "latency_bench: LATENCY_BASELINE=$BASELINE is not a program" >&2
  exit 1
fi

echo "Building update_bench, torvane-publish and delay_proxy in $BUILD_DIR ..."
cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DTORVANE_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD_DIR" -j2 --target update_bench torvane-publish delay_proxy >/dev/null
BENCH=$BUILD_DIR/bench/update_bench
PUBLISH=$BUILD_DIR/tools/torvane-publish
PROXY=$BUILD_DIR/bench/delay_proxy

WORK=$(mktemp -d /tmp/torvane_latency_bench.XXXXXX)
PROXY_PID=""
stop_proxy() {
  if [ -n "$PROXY_PID" ]; then
    kill "$PROXY_PID" 2>/dev/null || true
    wait "$PROXY_PID" 2>/dev/null || true
    PROXY_PID=""
  fi
}
cleanup() {
  stop_proxy
  stop_nginx
  rm -rf "$WORK"
}
trap cleanup EXIT

# start_proxy [OPTION...] starts the proxy on 127.0.0.1:80 in front of
# nginx and waits until it listens.
start_proxy() {
  "$PROXY" "$PROXY_PORT" "$NGINX_PORT" --delay-ms "$DELAY_MS" "$@" > "$WORK/proxy.out" 2>&1 &
  PROXY_PID=$!
  local i
  for i in $(seq 100); do
    if grep -q "listening" "$WORK/proxy.out"; then return 0; fi
    sleep 0.05
  done
  echo "latency_bench: the proxy did not start:" >&2
  cat "$WORK/proxy.out" >&2
  exit 1
}

echo "Writing $FILES files of 4 KiB and one of $BIG_MIB MiB, and publishing them ..."
mkdir -p "$WORK/docroot/big"
make_tree "$WORK/docroot/install" "$FILES" 4096 4096
head -c $((BIG_MIB * 1024 * 1024)) /dev/urandom > "$WORK/docroot/big/big.bin"
"$PUBLISH" "$WORK/docroot/install" >/dev/null
"$PUBLISH" "$WORK/docroot/big" >/dev/null

# The same files for every peer: one URL per line for wget, a config file
# for curl, an input file for aria2c.
(cd "$WORK/docroot/install" && find . -name '*.dat' | sed 's|^\./||' | sort) > "$WORK/paths"
sed 's|^|http://127.0.0.1/install/|' "$WORK/paths" > "$WORK/urls"
awk -v out="$WORK/curl" '{ printf "url = \"http://127.0.0.1/install/%s\"\noutput = \"%s/%s\"\n", $0, out, $0 }' \
  "$WORK/paths" > "$WORK/curl.config"
awk '{ printf "http://127.0.0.1/install/%s\n  out=%s\n", $0, $0 }' "$WORK/paths" > "$WORK/aria2.input"

start_nginx "$WORK/nginx" "$NGINX_PORT" "$WORK/docroot"

# delivered_count DIR counts the files of 4 KiB under DIR.
delivered_count() {
  find "$1" -type f -name '*.dat' -size 4096c | wc -l
}

# expect_all WHO DIR stops the benchmark when DIR lacks a file.
expect_all() {
  local got
  got=$(delivered_count "$2")
  if [ "$got" != "$FILES" ]; then
    echo "latency_bench: $1 delivered $got of $FILES files" >&2
    exit 1
  fi
}

# run_updater PROGRAM DIR ROOT COUNT installs release ROOT into a fresh
# installation DIR with PROGRAM, timed into DIR.time.
run_updater() {
  local program=$1 dir=$2 root=$3 count=$4
  fresh_installation "$dir"
  (cd "$dir" && "$TIME" -v -o "$dir.time" "$program" "$root" manifest.lst.z > "$dir.out")
  if ! grep -q "saved $count failed 0 " "$dir.out"; then
    echo "latency_bench: $program did not install every file of $root:" >&2
    cat "$dir.out" >&2
    exit 1
  fi
}

# run_files_tool TOOL runs one tool of case (a); its time goes to
# $WORK/TOOL.time.
run_files_tool() {
  local tool=$1
  case $tool in
    ours)
      run_updater "$BENCH" "$WORK/ours" /install "$FILES"
      expect_all "update_bench" "$WORK/ours" ;;
    ours8)
      TORVANE_PARALLEL_DOWNLOADS=8 run_updater "$BENCH" "$WORK/ours8" /install "$FILES"
      expect_all "update_bench with eight downloads in flight" "$WORK/ours8" ;;
    baseline)
      run_updater "$BASELINE" "$WORK/baseline" /install "$FILES"
      expect_all "the baseline update_bench" "$WORK/baseline" ;;
    wget)
      rm -rf "$WORK/wget"
      "$TIME" -v -o "$WORK/wget.time" wget -q -i "$WORK/urls" -x -nH --cut-dirs=1 -P "$WORK/wget"
      expect_all wget "$WORK/wget" ;;
    curl)
      rm -rf "$WORK/curl"
      # Its parallel progress meter ignores -s; it goes to a file.
      "$TIME" -v -o "$WORK/curl.time" curl -s -f --create-dirs --parallel --parallel-max 8 -K "$WORK/curl.config" \
        2> "$WORK/curl.err" || { cat "$WORK/curl.err" >&2; exit 1; }
      expect_all curl "$WORK/curl" ;;
    aria2c)
      rm -rf "$WORK/aria2c"
      "$TIME" -v -o "$WORK/aria2c.time" aria2c -q -j 8 -i "$WORK/aria2.input" -d "$WORK/aria2c" \
        --allow-overwrite=true --auto-file-renaming=false --file-allocation=none
      expect_all aria2c "$WORK/aria2c" ;;
  esac
}

# same_as_served WHO FILE stops the benchmark when FILE is not the big file.
same_as_served() {
  if ! cmp -s "$2" "$WORK/docroot/big/big.bin"; then
    echo "latency_bench: $1 delivered a file that differs from the served one" >&2
    exit 1
  fi
}

# run_big_tool TOOL runs one tool of case (b); its time goes to
# $WORK/TOOL.time.
run_big_tool() {
  local tool=$1
  case $tool in
    big_ours)
      run_updater "$BENCH" "$WORK/big_ours" /big 1
      same_as_served update_bench "$WORK/big_ours/big.bin"
      rm -rf "$WORK/big_ours" ;;
    big_curl)
      "$TIME" -v -o "$WORK/big_curl.time" curl -s -f -o "$WORK/big_curl.bin" "http://127.0.0.1/big/big.bin"
      same_as_served curl "$WORK/big_curl.bin"
      rm -f "$WORK/big_curl.bin" ;;
  esac
  # The next download must not pay for writing this one back to the disk.
  sync
}

declare -A WALL
med() { echo "${WALL[$1]}" | tr ' ' '\n' | grep . | median; }

# run_case RUNNER TOOL... runs every tool RUNS times, rotating the order.
run_case() {
  local runner=$1
  shift
  local tools=("$@") count=$# run i tool seconds line
  for tool in "${tools[@]}"; do WALL[$tool]=""; done
  for run in $(seq "$RUNS"); do
    line="run $run:"
    for i in $(seq 0 $((count - 1))); do
      tool=${tools[$(((i + run) % count))]}
      "$runner" "$tool"
      seconds=$(seconds_of "$WORK/$tool.time")
      WALL[$tool]="${WALL[$tool]} $seconds"
      line="$line  $tool $seconds s"
    done
    echo "$line"
  done
}

FILE_TOOLS=(ours ours8 wget curl aria2c)
if [ -n "$BASELINE" ]; then FILE_TOOLS+=(baseline); fi
echo
echo "(a) $FILES files of 4 KiB, proxy delay $DELAY_MS ms each way"
start_proxy
run_case run_files_tool "${FILE_TOOLS[@]}"
stop_proxy

echo
echo "(b) one file of $BIG_MIB MiB, proxy delay $DELAY_MS ms each way, $RATE_MIB MiB/s per connection"
start_proxy --rate-kib $((RATE_MIB * 1024))
run_case run_big_tool big_ours big_curl
stop_proxy

OURS=$(med ours); OURS8=$(med ours8); WGET=$(med wget); CURL=$(med curl); ARIA2C=$(med aria2c)
BEST=$(awk -v a="$CURL" -v b="$ARIA2C" 'BEGIN { print (a < b) ? a : b }')
BIG_OURS=$(med big_ours); BIG_CURL=$(med big_curl)
BEST_RATIO=$(ratio "$OURS" "$BEST")
BIG_RATIO=$(ratio "$BIG_OURS" "$BIG_CURL")

echo
echo "$RUNS rounds of each, nginx behind delay_proxy on 127.0.0.1:$PROXY_PORT ($DELAY_MS ms each way, one round trip more per connection)"
printf '(a) %d files of 4 KiB: median ours %.2f s, wget -i %.2f s, curl --parallel %.2f s, aria2c -j 8 %.2f s\n' \
  "$FILES" "$OURS" "$WGET" "$CURL" "$ARIA2C"
printf '    with eight downloads in flight, as many as the parallel peers: median ours %.2f s, ratio to the best: %s\n' \
  "$OURS8" "$(ratio "$OURS8" "$BEST")"
echo "    ratio ours / wget: $(ratio "$OURS" "$WGET"), ours / curl: $(ratio "$OURS" "$CURL"), ours / aria2c: $(ratio "$OURS" "$ARIA2C")"
echo "    ratio ours / best of curl and aria2c: $BEST_RATIO (target <= $FILES_TARGET: $(verdict "$BEST_RATIO" "$FILES_TARGET"))"
if [ -n "$BASELINE" ]; then
  BASE=$(med baseline)
  BASE_RATIO=$(ratio "$OURS" "$BASE")
  printf '    baseline launcher %.2f s; ratio ours / baseline: %s (target <= %s: %s)\n' \
    "$BASE" "$BASE_RATIO" "$BASELINE_TARGET" "$(verdict "$BASE_RATIO" "$BASELINE_TARGET")"
fi
printf '(b) one file of %d MiB at %d MiB/s per connection: median ours %.2f s, curl -o %.2f s\n' \
  "$BIG_MIB" "$RATE_MIB" "$BIG_OURS" "$BIG_CURL"
echo "    ratio ours / curl: $BIG_RATIO (target <= $BIG_TARGET: $(verdict "$BIG_RATIO" "$BIG_TARGET"))"
