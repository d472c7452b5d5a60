#!/bin/bash
# Updater benchmark, in one run against the same nginx on 127.0.0.1:80 (in
# private network and PID namespaces, so port 80 is free):
#
#   (a) an installation of CHECK_FILES (default 100000) small files that is
#       already up to date: update_bench checks it; `rsync -rn --size-only`
#       checks the same tree against an rsync daemon that serves it;
#   (b) INSTALL_FILES (default 5000) files of 4 KiB into an empty
#       installation: update_bench (one connection per file) against
#       `wget -i` (one process, keep-alive).
#
# RUNS (default 3) alternating runs of each; prints the medians, the ratios
# and our peak memory. Not a test: it fails only when something cannot be
# set up or a run goes wrong, never on timing.
#
# Environment: BUILD_DIR (default build-bench under the source tree), RUNS,
# CHECK_FILES, INSTALL_FILES, and UPDATE_BASELINE: the path of an
# update_bench built from another commit, which then also installs (b) in
# every run, so that the cost of a change to installing is a ratio of one
# run.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" != "--inside-namespaces" ]; then
  exec "$ROOT/scripts/in_netns.sh" bash "$0" --inside-namespaces
fi
# shellcheck source=bench/bench_lib.sh
. "$ROOT/bench/bench_lib.sh"

BUILD_DIR=${BUILD_DIR:-$ROOT/build-bench}
RUNS=${RUNS:-3}
CHECK_FILES=${CHECK_FILES:-100000}
INSTALL_FILES=${INSTALL_FILES:-5000}
RSYNC_PORT=8730
CHECK_TARGET=0.5
INSTALL_TARGET=0.7
BASELINE=${UPDATE_BASELINE:-}
if [ -n "$BASELINE" ] && [ ! -x "$BASELINE" ]; then
  echo "update_bench.sh: UPDATE_BASELINE=$BASELINE is not a program" >&2
  exit 1
fi
CHECK_PEAK_TARGET_KIB=65536

require_tools "$NGINX" "$TIME" curl wget rsync cmake python3

echo "Building update_bench and torvane-publish in $BUILD_DIR ..."
cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DTORVANE_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD_DIR" -j2 --target update_bench torvane-publish >/dev/null
BENCH=$BUILD_DIR/bench/update_bench
PUBLISH=$BUILD_DIR/tools/torvane-publish

WORK=$(mktemp -d /tmp/torvane_update_bench.XXXXXX)
RSYNC_PID=""
cleanup() {
  stop_nginx
  if [ -n "$RSYNC_PID" ]; then
    kill "$RSYNC_PID" 2>/dev/null || true
    wait "$RSYNC_PID" 2>/dev/null || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT
mkdir -p "$WORK/docroot"

# local_manifest_from PUBLISHED writes the local manifest that an
# installation of everything PUBLISHED lists has.
local_manifest_from() {
  python3 - "$1" <<'PY'
import sys, zlib
text = zlib.decompress(open(sys.argv[1], "rb").read()).decode()
out = ["# This is an automatically generated file - do not modify\n",
       "# It contains a list of the files currently managed by the\n",
       "# updater.  Changing or deleting it may cause your next\n",
       "# update to download far more things than it needs.\n", "\n"]
for line in text.splitlines():
    if not line or line.startswith("#"):
        continue
    h, size, name = line.split(" ", 2)
    out.append("%s %10d %s\n" % (h, int(size), name))
sys.stdout.write("".join(out))
PY
}

echo "Writing $CHECK_FILES small files and $INSTALL_FILES files of 4 KiB ..."
make_tree "$WORK/docroot/check" "$CHECK_FILES" 16 200
make_tree "$WORK/docroot/install" "$INSTALL_FILES" 4096 4096
"$PUBLISH" "$WORK/docroot/check" >/dev/null
"$PUBLISH" "$WORK/docroot/install" >/dev/null

echo "Preparing the up-to-date installation ..."
mkdir -p "$WORK/checked"
cp -a "$WORK/docroot/check/." "$WORK/checked/"
rm "$WORK/checked/manifest.lst.z"
local_manifest_from "$WORK/docroot/check/manifest.lst.z" > "$WORK/checked/update_manifest.lst"

start_nginx "$WORK/nginx" 80 "$WORK/docroot"
RSYNC_USER=""
if [ "$(id -u)" = 0 ]; then RSYNC_USER=$'uid = 0\ngid = 0'; fi
cat > "$WORK/rsyncd.conf" <<CONF
use chroot = no
$RSYNC_USER
[game]
  path = $WORK/docroot/check
  read only = yes
CONF
rsync --daemon --no-detach --config="$WORK/rsyncd.conf" --address=127.0.0.1 --port=$RSYNC_PORT \
  --log-file="$WORK/rsyncd.log" &
RSYNC_PID=$!
for _ in $(seq 100); do
  if rsync "rsync://127.0.0.1:$RSYNC_PORT/" >/dev/null 2>&1; then break; fi
  sleep 0.1
done

for i in $(seq "$INSTALL_FILES"); do
  n=$((i - 1))
  printf 'http://127.0.0.1/install/d%02d/f%06d.dat\n' $((n % 100)) "$n"
done > "$WORK/urls"

CHECK_OURS=""
CHECK_RSYNC=""
INSTALL_OURS=""
INSTALL_WGET=""
INSTALL_BASELINE=""
CHECK_PEAK=0
INSTALL_PEAK=0
for run in $(seq "$RUNS"); do
  (cd "$WORK/checked" && "$TIME" -v -o "$WORK/check_ours.time" "$BENCH" /check manifest.lst.z > "$WORK/check_ours.out")
  grep -q "planned 0 " "$WORK/check_ours.out" || { echo "update_bench planned files in an up-to-date installation:" >&2; cat "$WORK/check_ours.out" >&2; exit 1; }
  "$TIME" -v -o "$WORK/check_rsync.time" rsync -rn --size-only "rsync://127.0.0.1:$RSYNC_PORT/game/" "$WORK/checked/" > /dev/null

  fresh_installation "$WORK/ours"
  (cd "$WORK/ours" && "$TIME" -v -o "$WORK/install_ours.time" "$BENCH" /install manifest.lst.z > "$WORK/install_ours.out")
  grep -q "saved $INSTALL_FILES failed 0 " "$WORK/install_ours.out" || { echo "update_bench did not install every file:" >&2; cat "$WORK/install_ours.out" >&2; exit 1; }
  rm -rf "$WORK/wget"
  "$TIME" -v -o "$WORK/install_wget.time" wget -q -i "$WORK/urls" -x -nH -P "$WORK/wget"
  [ "$(find "$WORK/wget" -type f | wc -l)" = "$INSTALL_FILES" ] || { echo "wget did not fetch every file" >&2; exit 1; }

  if [ -n "$BASELINE" ]; then
    fresh_installation "$WORK/baseline"
    (cd "$WORK/baseline" && "$TIME" -v -o "$WORK/install_baseline.time" "$BASELINE" /install manifest.lst.z > "$WORK/install_baseline.out")
    grep -q "saved $INSTALL_FILES failed 0 " "$WORK/install_baseline.out" || { echo "the baseline did not install every file:" >&2; cat "$WORK/install_baseline.out" >&2; exit 1; }
    INSTALL_BASELINE="$INSTALL_BASELINE $(seconds_of "$WORK/install_baseline.time")"
  fi

  c_ours=$(seconds_of "$WORK/check_ours.time"); c_rsync=$(seconds_of "$WORK/check_rsync.time")
  i_ours=$(seconds_of "$WORK/install_ours.time"); i_wget=$(seconds_of "$WORK/install_wget.time")
  CHECK_OURS="$CHECK_OURS $c_ours"; CHECK_RSYNC="$CHECK_RSYNC $c_rsync"
  INSTALL_OURS="$INSTALL_OURS $i_ours"; INSTALL_WGET="$INSTALL_WGET $i_wget"
  peak=$(peak_kib_of "$WORK/check_ours.time"); [ "$peak" -gt "$CHECK_PEAK" ] && CHECK_PEAK=$peak
  peak=$(peak_kib_of "$WORK/install_ours.time"); [ "$peak" -gt "$INSTALL_PEAK" ] && INSTALL_PEAK=$peak
  printf 'run %d: check  ours %6.2f s  rsync %6.2f s   install  ours %6.2f s  wget %6.2f s%s\n' \
    "$run" "$c_ours" "$c_rsync" "$i_ours" "$i_wget" \
    "$([ -z "$BASELINE" ] || printf '  baseline %6.2f s' "${INSTALL_BASELINE##* }")"
done

med() { echo "$1" | tr ' ' '\n' | grep . | median; }
C_OURS=$(med "$CHECK_OURS"); C_RSYNC=$(med "$CHECK_RSYNC")
I_OURS=$(med "$INSTALL_OURS"); I_WGET=$(med "$INSTALL_WGET")
C_RATIO=$(ratio "$C_OURS" "$C_RSYNC")
I_RATIO=$(ratio "$I_OURS" "$I_WGET")

echo
echo "$RUNS alternating runs each, nginx on 127.0.0.1:80, rsync daemon on 127.0.0.1:$RSYNC_PORT"
printf '(a) up-to-date check of %d files: median ours %.2f s, rsync -rn --size-only %.2f s\n' "$CHECK_FILES" "$C_OURS" "$C_RSYNC"
echo "    ratio ours / rsync: $C_RATIO (target <= $CHECK_TARGET: $(verdict "$C_RATIO" "$CHECK_TARGET"))"
echo "    our peak memory: $CHECK_PEAK KiB (target < $CHECK_PEAK_TARGET_KIB KiB: $(verdict "$CHECK_PEAK" "$CHECK_PEAK_TARGET_KIB"))"
printf '(b) install of %d files of 4 KiB: median ours %.2f s, wget -i %.2f s\n' "$INSTALL_FILES" "$I_OURS" "$I_WGET"
echo "    ratio ours / wget: $I_RATIO (target <= $INSTALL_TARGET: $(verdict "$I_RATIO" "$INSTALL_TARGET"))"
echo "    our peak memory: $INSTALL_PEAK KiB"
if [ -n "$BASELINE" ]; then
  I_BASE=$(med "$INSTALL_BASELINE")
  printf '    baseline %s: median %.2f s; ratio ours / baseline: %s\n' "$BASELINE" "$I_BASE" "$(ratio "$I_OURS" "$I_BASE")"
fi
