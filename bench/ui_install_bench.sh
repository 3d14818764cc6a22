#!/usr/bin/env bash
# The real installer's frame rate and CPU use, idle on its main screen and
# during an install, in a virtual 1280x1024 screen with Mesa's software
# renderer. A product of random (incompressible) files is published with
# skyvane-publish, served by nginx on 127.0.0.1, and installed through the
# program's own window (xdotool clicks). The program runs with --fps_test,
# which writes "FPS test: ..." (passes swapped, seconds, process CPU) to its
# log at the end; the install phase's CPU is sampled from /proc.
#
# Usage: bench/ui_install_bench.sh [--files=N] [--mb=N] [--idle-seconds=N]
# The build folder can be chosen with BENCH_BUILD_DIR (default build-bench).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
files=40 mb=200 idle=10
for a in "$@"; do
  case "$a" in
    --files=*) files=${a#*=} ;;
    --mb=*) mb=${a#*=} ;;
    --idle-seconds=*) idle=${a#*=} ;;
    *) echo "usage: $0 [--files=N] [--mb=N] [--idle-seconds=N]" >&2; exit 2 ;;
  esac
done
dir=${BENCH_BUILD_DIR:-build-bench}
case "$dir" in /*) ;; *) dir="$root/$dir" ;; esac

if [ -z "${SKYVANE_BENCH_INNER:-}" ]; then
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSKYVANE_TESTS=OFF >/dev/null
  cmake --build "$dir" --target skyvane-installer skyvane-publish -j2 >/dev/null
  SKYVANE_BENCH_INNER=1 BENCH_BUILD_DIR="$dir" exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" \
    bash "$0" "$@"
fi

# --- inside the virtual screen ----------------------------------------------------
work="$(mktemp -d)"
installer_pid="" nginx_pid=""
cleanup() {
  [ -n "$installer_pid" ] && kill "$installer_pid" 2>/dev/null || true
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_STATE_HOME="$work/home/.state" TMPDIR="$work/tmp"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$TMPDIR" "$work/bin"
# A private copy of the program, so its Log.txt lands in $work/bin.
cp "$dir/skyvane-installer" "$work/bin/"

source "$root/scripts/nginx-lib.sh"
port=$(free_port)
echo "Making and publishing $files files, $mb MB in all ..."
per=$((mb * 1024 * 1024 / files))
mkdir -p "$work/product/Skyvane 9/Resources"
for i in $(seq 1 "$files"); do
  head -c "$per" /dev/urandom >"$work/product/Skyvane 9/Resources/data_$i.bin"
done
"$dir/tools/skyvane-publish" --product "$work/product" --release "Skyvane 9.00" --out "$work/www" \
  --mirror "127.0.0.1:$port|/mirror/|Local mirror" >/dev/null 2>"$work/publish.err" ||
  { cat "$work/publish.err" >&2; exit 1; }

start_nginx "$work/nginx" "$port" "$work/www"

log="$work/bin/Log.txt"
ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$installer_pid/stat"; }
now() { date +%s.%N; }
wait_log() {  # text, seconds
  local end=$((SECONDS + $2))
  while [ $SECONDS -lt $end ]; do
    grep -q "$1" "$log" 2>/dev/null && return 0
    kill -0 "$installer_pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
# (x, y) in the program's coordinates: origin at the bottom-left of 1024 x 768.
click() { xdotool mousemove --sync "$1" $((768 - $2)) click 1; }
start() {  # destination
  rm -rf "$1" "$log"
  "$work/bin/skyvane-installer" --fps_test "--vendor_host=127.0.0.1:$port" "$1" >"$work/out.txt" 2>&1 &
  installer_pid=$!
  wait_log "Directory read: result=3" 120 || { echo "the installer did not get ready:" >&2; cat "$work/out.txt" "$log" >&2; exit 1; }
}
quit() {
  click 985 89
  wait "$installer_pid" || true
  installer_pid=""
  grep "FPS test:" "$log" | sed "s/^/  $1: /"
}

echo "1. idle on the main screen for $idle s"
start "$work/dest1/Skyvane 9/"
xdotool mousemove 700 300
sleep "$idle"
quit "whole run (start, $idle s idle, quit)"

echo "2. install of $files files, $mb MB"
start "$work/dest2/Skyvane 9/"
for _ in $(seq 30); do
  click 491 89  # Install
  sleep 0.5
  click 691 255 # Accept (the licence window)
  wait_log "Install: licence accepted" 1 && break
done
t0=$(now) c0=$(cpu_ticks)
wait_log "Install finished." 600 || { echo "the install did not finish" >&2; tail -20 "$log" >&2; exit 1; }
t1=$(now) c1=$(cpu_ticks)
awk -v t0="$t0" -v t1="$t1" -v c0="$c0" -v c1="$c1" -v hz="$ticks" -v mb="$mb" 'BEGIN {
  s = t1 - t0; cpu = (c1 - c0) / hz;
  printf "  install phase: %.2f s, %.1f MB/s, CPU %.2f s (%.0f%% of a core)\n", s, mb * 1.048576 / s, cpu, 100 * cpu / s }'
grep -q "Install failed" "$log" && echo "  (the install reported a failure)"
quit "whole run (start, install, quit)"
