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
source scripts/nginx-lib.sh
port=$(free_port)
SKYVANE_PUBLISH="$root/build/tools/skyvane-publish" bash scripts/make-demo.sh "$state" "127.0.0.1:$port" >/dev/null

start_nginx "$state/nginx" "$port" "$state/www"
trap 'kill $nginx_pid 2>/dev/null; wait $nginx_pid 2>/dev/null || true' EXIT
echo "Demo release served at http://127.0.0.1:$port/ from $state/www"

run=(build/skyvane-installer "--vendor_host=127.0.0.1:$port" "$@")
if [ -z "${DISPLAY:-}" ]; then
  echo "No display: running the installer on a virtual screen (xvfb-run)." >&2
  xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "${run[@]}"
else
  "${run[@]}"
fi
