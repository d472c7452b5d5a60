# Shared pieces of the benchmark scripts: nginx on loopback (scripts/
# nginx.sh), trees of game files and empty installations, wall times and
# peak memory from /usr/bin/time -v, medians and verdicts. Sourced, not run.

TIME=/usr/bin/time

# require_tools exits when one of the named programs is missing.
require_tools() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "$(basename "$0"): $tool is missing" >&2; exit 1; }
  done
}

# shellcheck source=scripts/nginx.sh
. "$(dirname "${BASH_SOURCE[0]}")/../scripts/nginx.sh"

# seconds_of turns the wall time of time -v (h:mm:ss or m:ss.ss) into seconds.
seconds_of() {
  grep "Elapsed (wall clock)" "$1" | awk '{ n = split($NF, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }'
}

peak_kib_of() {
  grep "Maximum resident set size" "$1" | awk '{ print $NF }'
}

# median reads numbers, one per line, and prints their median.
median() {
  sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# ratio A B prints A / B with three decimals.
ratio() {
  awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.3f", a / b; else print "n/a" }'
}

# verdict VALUE TARGET prints whether VALUE <= TARGET.
verdict() {
  awk -v r="$1" -v t="$2" 'BEGIN { print (r != "n/a" && r <= t) ? "within target" : "ABOVE TARGET" }'
}

# make_tree DIR COUNT MIN MAX writes COUNT files of MIN..MAX random bytes
# into 100 directories under DIR.
make_tree() {
  python3 - "$@" <<'PY'
import os, random, sys
root, count, low, high = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
rng = random.Random(count)
for i in range(count):
    d = os.path.join(root, "d%02d" % (i % 100))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "f%06d.dat" % i), "wb") as f:
        f.write(rng.randbytes(rng.randint(low, high)))
PY
}

# fresh_installation DIR makes an empty installation with the header-only
# manifest.
fresh_installation() {
  rm -rf "$1"
  mkdir -p "$1"
  printf '%s\n' "# This is an automatically generated file - do not modify" \
    "# It contains a list of the files currently managed by the" \
    "# updater.  Changing or deleting it may cause your next" \
    "# update to download far more things than it needs." "" > "$1/update_manifest.lst"
}
