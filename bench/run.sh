#!/usr/bin/env bash
# The installer against the tools a user would use instead (curl, unzip,
# python3's zipfile, md5sum), on one generated release served by nginx on
# 127.0.0.1, in one run: medians and min-max per case, ratios, and one
# "target NAME ratio R goal G met|missed" line per target. See bench/README.md.
#
# Usage: bench/run.sh [--files=N] [--mb=N] [--rounds=N] [--no-real]
#   defaults: 1500 files, 600 MB, 3 rounds; a quick smoke run:
#   bench/run.sh --files=100 --mb=40 --rounds=1
# Builds optimised (Release) into BENCH_BUILD_DIR (default build-bench) and
# runs in a virtual screen (xvfb-run) for the real program's window. Needs
# about 8 times the release size free in $TMPDIR (default /tmp).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir=${BENCH_BUILD_DIR:-build-bench}
case "$dir" in /*) ;; *) dir="$root/$dir" ;; esac
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSKYVANE_TESTS=OFF >/dev/null
cmake --build "$dir" --target perf_bench skyvane-installer skyvane-publish -j2 >/dev/null
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'),"\
  "$(awk '/MemTotal/ { printf "%.0f GB", $2 / 1048576 }' /proc/meminfo); $(uname -sr); load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Date: $(date -u '+%Y-%m-%d %H:%M UTC')"
exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$dir/bench/perf_bench" "$@"
