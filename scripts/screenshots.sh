#!/usr/bin/env bash
# Screenshots of the installer's screens, for judging the built-in pictures.
#
#   scripts/screenshots.sh [OUTDIR]        (default: out/screenshots)
#
# OUTDIR/main.png       the main screen, ready to install the demo release
# OUTDIR/licence.png    the licence screen (after Install)
# OUTDIR/question.png   the modified-file question (a changed file in the destination)
# OUTDIR/after_install.png the main screen once the install has run
# OUTDIR/alert.png      an alert (a damaged manifest archive on the server)
# OUTDIR/mock/          mock-ups made from the pictures alone by skyvane-asset-gen
#
# The real screens come from the real program on a virtual screen (Xvfb),
# installing the demo release (scripts/make-demo.sh) from nginx on 127.0.0.1,
# with private HOME and temporary folders. Uses the build folder $SKYVANE_BUILD
# (default build/), building what is missing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$root/out/screenshots}"
build="${SKYVANE_BUILD:-$root/build}"

if [ -z "${SKYVANE_SHOTS_INNER:-}" ]; then
  if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  cmake --build "$build" --target skyvane-asset-gen skyvane-installer skyvane-publish >/dev/null
  mkdir -p "$out/mock"
  out="$(cd "$out" && pwd)"
  "$build/tools/asset-gen/skyvane-asset-gen" --preview "$out/mock" >/dev/null
  echo "Mock-ups: $out/mock/"
  # Always a fresh virtual screen, so nothing on the user's desktop is touched.
  SKYVANE_SHOTS_INNER=1 SKYVANE_BUILD="$build" \
    xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" bash "$0" "$out"
  exit $?
fi

# --- inside the virtual screen -------------------------------------------------
rm -f "$out"/*.png
work="$(mktemp -d)"
installer_pid=""
nginx_pid=""
cleanup() {
  [ -n "$installer_pid" ] && kill "$installer_pid" 2>/dev/null || true
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_STATE_HOME="$work/home/.state" TMPDIR="$work/tmp"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$TMPDIR"

source "$root/scripts/nginx-lib.sh"
port=$(free_port)
SKYVANE_PUBLISH="$build/tools/skyvane-publish" bash "$root/scripts/make-demo.sh" "$work/demo" "127.0.0.1:$port" >/dev/null 2>&1
# A second copy of the release whose manifest archive is damaged: the
# installer shows an alert when it cannot expand it.
cp -r "$work/demo/www" "$work/broken"
find "$work/broken" -name 'directory.txt.zip' -exec sh -c 'printf "not a zip archive" > "$1"' _ {} \;

# One server per release, so each run of the installer sees its own.
broken_port=$(free_port)
start_nginx "$work/nginx" "$port" "$work/demo/www" "$broken_port" "$work/broken"
# The broken release names the demo's servers; point its list at its own port.
find "$work/broken" -name 'serverlist9.txt' -exec sed -i "s/127.0.0.1:$port/127.0.0.1:$broken_port/g" {} \;

win_x=0 win_y=0
start_installer() {  # vendor host, destination, extra options
  "$build/skyvane-installer" "--vendor_host=$1" "$2" "${@:3}" >"$work/installer.out" 2>&1 &
  installer_pid=$!
  for _ in $(seq 300); do
    local id
    id=$(xdotool search --name '^Skyroot$' 2>/dev/null | head -n 1 || true)
    if [ -n "$id" ]; then
      eval "$(xdotool getwindowgeometry --shell "$id")"
      win_x=$X win_y=$Y
      return 0
    fi
    kill -0 "$installer_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "The installer did not open its window:" >&2
  cat "$work/installer.out" >&2
  return 1
}
stop_installer() {
  kill "$installer_pid" 2>/dev/null || true
  wait "$installer_pid" 2>/dev/null || true
  installer_pid=""
}
# (x, y) in the program's coordinates: origin at the bottom-left of 1024 x 768.
move() { xdotool mousemove --sync $((win_x + $1)) $((win_y + 768 - $2)); }
click() { move "$1" "$2"; sleep 0.2; xdotool click 1; }
# Red, green and blue (0..255) of the pixel at program (x, y); "-1 -1 -1" when unreadable.
pixel() {
  local v
  v=$(import -window root -crop "1x1+$((win_x + $1))+$((win_y + 767 - $2))" -depth 8 txt:- 2>/dev/null | tail -n 1 |
    sed -n 's/^[^(]*(\([^)]*\)).*/\1/p' | awk -F, '{ print int($1), int($2), int($3) }')
  echo "${v:--1 -1 -1}"
}
brightness() {
  local r g b
  read -r r g b <<<"$(pixel "$1" "$2")"
  echo $((r < 0 ? -1 : r + g + b))
}
# Waits (up to 90 seconds) until the pixel at program (x1, y1) is dark and
# the one at (x2, y2) light: the sign that a given screen is up (a window
# that has not drawn yet is black all over).
wait_screen() {
  local a b end=$((SECONDS + 90))
  while [ $SECONDS -lt $end ]; do
    a=$(brightness "$1" "$2") b=$(brightness "$3" "$4")
    [ "$a" -ge 0 ] && [ "$a" -lt 250 ] && [ "$b" -gt 500 ] && return 0
    kill -0 "$installer_pid" 2>/dev/null || return 1
    sleep 0.2
  done
  echo "Timed out waiting for the screen (dark at $1,$2, light at $3,$4)." >&2
  return 1
}
shot() {
  sleep "${2:-0.6}"
  import -window root -crop "1024x768+$win_x+$win_y" +repage "$out/$1.png"
  echo "Screenshot: $out/$1.png"
}

# The destination holds an earlier copy with one file changed by the user.
dest="$work/dest/Skyvane 9/"
changed=$(cd "$work/demo/product/Skyvane 9" && find . -type f -name '*.txt' | LC_ALL=C sort | sed -n 1p)
mkdir -p "$dest$(dirname "$changed")"
echo "changed by the user" >"$dest$changed"

# Each step waits for its screen; when one does not come, what the screen
# shows instead is saved as NAME-instead.png and that run ends.
# Waits until the Install button is drawn enabled: its face then carries the
# green tint of enabled buttons (disabled ones are tinted red).
wait_install_enabled() {
  local r g b end=$((SECONDS + 90))
  while [ $SECONDS -lt $end ]; do
    read -r r g b <<<"$(pixel 455 82)"
    [ "$r" -ge 0 ] && [ "$g" -gt $((3 * r)) ] && return 0
    kill -0 "$installer_pid" 2>/dev/null || return 1
    sleep 0.3
  done
  echo "Timed out waiting for the Install button to be enabled." >&2
  return 1
}
flow_install() {
  start_installer "127.0.0.1:$port" "$dest" || return 1
  move 700 400
  # Source picture dark, footer light: the main screen, after the disk examination.
  wait_screen 5 640 600 50 || { shot main-instead 0; return 1; }
  wait_install_enabled || { shot main-instead 0; return 1; }
  shot main
  click 491 89 # Install
  # The licence window (500 x 300, centred: origin 262, 234): title band, panel.
  wait_screen 300 524 512 400 || { shot licence-instead 0; return 1; }
  shot licence
  click 691 255 # Accept
  move 700 300
  # The question window (700 x 146, origin 162, 311): title band, body.
  wait_screen 240 447 852 411 || { shot question-instead 0; return 1; }
  shot question
  click 258 339 # KEEP THE OLD FILE
  move 700 400
  shot after_install 2.0
}
flow_alert() {
  # Its list is edited above, so its signature no longer holds: the alert
  # shown is the one for a manifest that cannot be expanded.
  start_installer "127.0.0.1:$broken_port" "$dest" --release_key=none || return 1
  # The alert window (420 x 250, origin 302, 259): title band, body.
  wait_screen 330 499 512 400 || { shot alert-instead 0; return 1; }
  shot alert
}
status=0
flow_install || status=1
stop_installer
flow_alert || status=1
stop_installer
exit $status
