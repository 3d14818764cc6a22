#!/usr/bin/env bash
# Sets up a fresh machine, builds the installer, publishes the demo release,
# serves it with nginx on 127.0.0.1 and starts the installer pointed at it.
# The server stops when the installer exits. Extra arguments go to the
# installer (for example a destination folder).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/install-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target skyvane-installer skyvane-publish

state="$root/out/demo"
mkdir -p "$state"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
SKYVANE_PUBLISH="$root/build/tools/skyvane-publish" bash scripts/make-demo.sh "$state" "127.0.0.1:$port" >/dev/null

conf="$state/nginx"
mkdir -p "$conf"
user_line=""
[ "$(id -u)" -eq 0 ] && user_line="user root;"
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
  server { listen 127.0.0.1:$port; root $state/www; }
}
CONF
nginx -p "$conf" -c "$conf/nginx.conf" &
nginx_pid=$!
trap 'kill $nginx_pid 2>/dev/null; wait $nginx_pid 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null && break
  sleep 0.05
done
echo "Demo release served at http://127.0.0.1:$port/ from $state/www"

run=(build/skyvane-installer "--vendor_host=127.0.0.1:$port" "$@")
if [ -z "${DISPLAY:-}" ]; then
  echo "No display: running the installer on a virtual screen (xvfb-run)." >&2
  xvfb-run -a -s "-screen 0 1280x1024x24" "${run[@]}"
else
  "${run[@]}"
fi
