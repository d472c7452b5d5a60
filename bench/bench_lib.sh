# Shared pieces of the benchmark scripts: nginx on loopback, wall times and
# peak memory from /usr/bin/time -v, medians and verdicts. Sourced, not run.

NGINX=/usr/sbin/nginx
TIME=/usr/bin/time

# require_tools exits when one of the named programs is missing.
require_tools() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "$(basename "$0"): $tool is missing" >&2; exit 1; }
  done
}

# start_nginx WORK PORT starts nginx serving WORK/docroot on 127.0.0.1:PORT
# and sets NGINX_PID; stop_nginx ends that process and only that one.
start_nginx() {
  local work=$1 port=$2 user_line=""
  if [ "$(id -u)" = 0 ]; then user_line="user root;"; fi
  cat > "$work/nginx.conf" <<CONF
daemon off;
master_process on;
worker_processes 1;
$user_line
pid $work/nginx.pid;
error_log $work/error.log warn;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $work/client_body;
  proxy_temp_path $work/proxy;
  fastcgi_temp_path $work/fastcgi;
  uwsgi_temp_path $work/uwsgi;
  scgi_temp_path $work/scgi;
  default_type application/octet-stream;
  sendfile on;
  keepalive_requests 100000;
  server {
    listen 127.0.0.1:$port;
    root $work/docroot;
  }
}
CONF
  "$NGINX" -p "$work/" -c "$work/nginx.conf" >"$work/nginx.out" 2>&1 &
  NGINX_PID=$!
  local i
  for i in $(seq 100); do
    if curl -s -o /dev/null "http://127.0.0.1:$port/"; then return 0; fi
    sleep 0.1
  done
  echo "$(basename "$0"): nginx did not start" >&2
  cat "$work/nginx.out" "$work/error.log" >&2
  exit 1
}

stop_nginx() {
  if [ -n "${NGINX_PID:-}" ]; then
    kill "$NGINX_PID" 2>/dev/null || true
    wait "$NGINX_PID" 2>/dev/null || true
    NGINX_PID=""
  fi
}

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
