#!/usr/bin/env bash
# The installer on an emulated wide-area link, side by side with curl and
# aria2c. bench/wan_relay.py sits on 127.0.0.1 in front of nginx and adds one
# round trip per new connection, half a round trip to every byte each way,
# and one shared rate per direction. A release of 600 small files (1-100 kB)
# and four of 10 MB (about 50 MB of archives) is published with the relay as
# its mirror and vendor host; each link then times, medians of 3: a fresh
# install by the headless engine and by the real program under Xvfb,
# `curl --parallel --parallel-max 4` and `aria2c -j4` of every archive, and
# the bytes alone (archive bytes / rate). Prints one
# "target NAME ratio R goal G met|missed" line per target. See bench/README.md.
#
# Usage: bench/wan.sh [--quick] [--links=RTT_MS:MBIT,...] [--files=N] [--large-mb=N] [--rounds=N] [--no-real]
#   defaults: --links=50:100,150:20 --files=600 --large-mb=10 --rounds=3
#   --quick: 100 small files, four of 2 MB, one round (about a minute)
# Installs missing packages (aria2) with scripts/install-deps.sh, builds
# optimised (Release) into BENCH_BUILD_DIR (default build-bench).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/install-deps.sh"
dir=${BENCH_BUILD_DIR:-build-bench}
case "$dir" in /*) ;; *) dir="$root/$dir" ;; esac
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSKYVANE_TESTS=OFF >/dev/null
cmake --build "$dir" --target perf_bench skyvane-installer skyvane-publish -j2 >/dev/null
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //');"\
  "$(uname -sr); load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Date: $(date -u '+%Y-%m-%d %H:%M UTC'); $(curl --version | head -1 | cut -d' ' -f1-2), $(aria2c --version | head -1)"
exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$dir/bench/perf_bench" --wan \
  "--relay=$root/bench/wan_relay.py" "$@"
