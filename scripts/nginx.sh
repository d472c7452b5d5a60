# nginx for the demo and the benchmarks: one server on 127.0.0.1 that serves
# a directory, started and stopped by its own process id. Sourced, not run.
#
#   start_nginx WORK PORT DOCROOT   writes WORK/nginx.conf, starts nginx and
#                                   waits until it answers; sets NGINX_PID
#   stop_nginx                      ends that nginx, and only that one

NGINX=/usr/sbin/nginx

start_nginx() {
  local work=$1 port=$2 docroot=$3 user_line=""
  # Started by root, nginx's workers would drop to a user that may not
  # read the files.
  if [ "$(id -u)" = 0 ]; then user_line="user root;"; fi
  mkdir -p "$work"
  cat > "$work/nginx.conf" <<CONF
daemon off;
master_process on;
worker_processes 1;
$user_line
pid $work/nginx.pid;
error_log $work/error.log warn;
events { worker_connections 1024; }
http {
  access_log $work/access.log;
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
    root $docroot;
  }
}
CONF
  "$NGINX" -p "$work/" -c "$work/nginx.conf" >"$work/nginx.out" 2>&1 &
  NGINX_PID=$!
  local i
  for i in $(seq 100); do
    if curl -s -o /dev/null "http://127.0.0.1:$port/"; then return 0; fi
    if ! kill -0 "$NGINX_PID" 2>/dev/null; then break; fi
    sleep 0.1
  done
  echo "$(basename "$0"): nginx did not start on 127.0.0.1:$port" >&2
  cat "$work/nginx.out" "$work/error.log" >&2 2>/dev/null || true
  stop_nginx
  return 1
}

stop_nginx() {
  if [ -n "${NGINX_PID:-}" ]; then
    kill "$NGINX_PID" 2>/dev/null || true
    wait "$NGINX_PID" 2>/dev/null || true
    NGINX_PID=""
  fi
}
