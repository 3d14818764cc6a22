#!/usr/bin/env bash
# Builds the installer core's benchmark optimised in its own folder (with the
# publisher it needs) and runs it: manifest read, disk examination against
# md5sum, fresh install against curl + unzip.
# Usage: bench/core_bench.sh [--rows=N] [--sign-mb=N] [--install-files=N] [--install-mb=N] [--rounds=N]
# The build folder can be chosen with BENCH_BUILD_DIR (default build-bench).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSKYVANE_TESTS=OFF >/dev/null
cmake --build "$dir" --target core_bench skyvane-publish -j2 >/dev/null
exec "$dir/bench/core_bench" "$@"
