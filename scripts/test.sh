#!/usr/bin/env bash
# Sets up a fresh machine, builds, and runs every test: once in the normal
# build and once with AddressSanitizer and UndefinedBehaviorSanitizer.
# Usage: scripts/test.sh [ctest arguments, e.g. -L net]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)
run_suite() {
  local dir=$1; shift
  # Tests that need a screen share one virtual display with Mesa's software GL.
  # -noreset: every test is a process of its own, and a client that connects
  # while the server resets after the last one left is refused ("no display").
  xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" \
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" "$@"
}

# ccache keeps the objects of earlier runs, also those of other clones of the
# tree (paths below the tree are hashed relative to it).
export CCACHE_BASEDIR="$PWD"
launch=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launch[@]}" >/dev/null
cmake --build build
run_suite build "$@"

if [ "${SKYVANE_SKIP_SANITIZERS:-0}" != "1" ]; then
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSKYVANE_SANITIZE=ON "${launch[@]}" >/dev/null
  cmake --build build-asan
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp run_suite build-asan "$@"
fi

# The wide-area benchmark's relay (bench/wan_relay.py): bytes unchanged and in
# order over many connections, the added delay and rate, closing from either
# side. Python only, a few seconds.
if [ $# -eq 0 ]; then
  python3 bench/wan_relay.py --self-test
fi

# A full run also runs every fuzz target for a few seconds from its seeds, so
# that a reader that starts crashing shows here (fuzz/run.sh; skipped with a
# message when clang's libFuzzer runtime is missing).
if [ $# -eq 0 ] && [ "${SKYVANE_SKIP_FUZZ:-0}" != "1" ]; then
  bash fuzz/run.sh "${SKYVANE_FUZZ_SECONDS:-5}"
fi
