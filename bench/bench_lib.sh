# Shared pieces of the benchmark scripts: nginx on loopback (scripts/
# nginx.sh), wall times and peak memory from /usr/bin/time -v, medians and
# verdicts. Sourced, not run.

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
