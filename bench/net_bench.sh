#!/usr/bin/env bash
# Builds the network benchmark optimised in its own folder and runs it: one
# large download and many mixed downloads, ours against curl on the same files
# from the same loopback nginx, printing both sides and their ratio.
# Usage: bench/net_bench.sh [--big-mib=N] [--files=N] [--rounds=N]
# The build folder can be chosen with BENCH_BUILD_DIR (default build-bench).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${BENCH_BUILD_DIR:-build-bench}
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSKYVANE_TESTS=OFF &&
       cmake --build "$dir" --target net_bench -j2; } >"$log" 2>&1; then
  cat "$log" >&2
  exit 1
fi
"$dir/bench/net_bench" "$@"
