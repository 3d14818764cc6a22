#!/usr/bin/env bash
# Builds the interface benchmark optimised in its own folder and runs it in a
# virtual 1280x1024 screen with Mesa's software renderer (as CI does).
# Usage: bench/ui_bench.sh [--passes=N]
# The build folder can be chosen with BENCH_BUILD_DIR (default build-bench).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSKYVANE_TESTS=OFF >/dev/null
cmake --build "$dir" --target ui_bench -j2 >/dev/null
exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$dir/bench/ui_bench" "$@"
