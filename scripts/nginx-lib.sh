# Shell helpers for serving releases with a private nginx on 127.0.0.1.
# Source this file; it defines free_port and start_nginx.

# Prints a TCP port on 127.0.0.1 that is free now.
free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# start_nginx CONF_DIR PORT ROOT [PORT ROOT ...]
# Writes a private configuration in CONF_DIR with one server per PORT/ROOT
# pair, starts nginx in the background and waits until the first port
# accepts. Sets nginx_pid; the caller stops it (kill "$nginx_pid").
start_nginx() {
  local conf=$1; shift
  local first_port=$1 servers="" user_line=""
  while [ $# -ge 2 ]; do
    servers+="  server { listen 127.0.0.1:$1; root $2; }"$'\n'
    shift 2
  done
  [ "$(id -u)" -eq 0 ] && user_line="user root;"
  mkdir -p "$conf"
  cat >"$conf/nginx.conf" <<CONF
$user_line
daemon off;
master_process off;
worker_processes 1;
error_log $conf/error.log warn;
pid $conf/nginx.pid;
events { worker_connections 256; }
http {
  access_log off;
  sendfile on;
  default_type application/octet-stream;
  client_body_temp_path $conf/body;
  proxy_temp_path $conf/proxy;
  fastcgi_temp_path $conf/fastcgi;
  uwsgi_temp_path $conf/uwsgi;
  scgi_temp_path $conf/scgi;
$servers}
CONF
  nginx -p "$conf" -c "$conf/nginx.conf" &
  nginx_pid=$!
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$first_port") 2>/dev/null && return 0
    sleep 0.05
  done
  echo "nginx did not start; see $conf/error.log" >&2
  return 1
}
