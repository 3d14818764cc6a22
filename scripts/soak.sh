#!/usr/bin/env bash
# The long runs of the tests labelled soak: the real program killed and
# started again many times, run under system-call faults (fiu-run), installing
# through a relay that lies, and a long chain of releases installed one after
# another as updates of one destination. Builds what they need, then runs ctest -L soak with
# the long settings below (each may be given in the environment instead).
# Usage: scripts/soak.sh [ctest arguments]
#   SKYVANE_CRASH_POINTS  kills of the crash-point test (default here 30)
#   SKYVANE_CRASH_SEED    replays the kill moments of an earlier run (printed by it)
#   SKYVANE_FIU_PROBABILITIES  fault probabilities of the system-call runs (default here 0.01,0.05,0.2)
#   SKYVANE_FIU_SEEDS     seeds per probability (default here 10)
#   SKYVANE_SOAK_RELEASES releases of the release chain, each installed as an update (default here 40)
#   SKYVANE_SOAK_SEED     replays the drawn changes between releases of an earlier run (printed by it)
#   SKYVANE_LIES          runs (a fresh install and an update each) through the lying relay (default here 16)
#   SKYVANE_LIE_RATE      share of the archive answers the relay lies to (default here 0.3)
#   SKYVANE_LIE_LONG_STALLS  share of its stalls that outlast the program's 30 s (default here 0.2)
#   SKYVANE_LIE_SEED      replays the lies of an earlier run (printed by it)
set -euo pipefail
cd "$(dirname "$0")/.."

export SKYVANE_CRASH_POINTS="${SKYVANE_CRASH_POINTS:-30}"
export SKYVANE_FIU_PROBABILITIES="${SKYVANE_FIU_PROBABILITIES:-0.01,0.05,0.2}"
export SKYVANE_FIU_SEEDS="${SKYVANE_FIU_SEEDS:-10}"
export SKYVANE_SOAK_RELEASES="${SKYVANE_SOAK_RELEASES:-40}"
export SKYVANE_LIES="${SKYVANE_LIES:-16}"
export SKYVANE_LIE_RATE="${SKYVANE_LIE_RATE:-0.3}"
export SKYVANE_LIE_LONG_STALLS="${SKYVANE_LIE_LONG_STALLS:-0.2}"
# New draws on every long run (the test command keeps fixed ones); each test
# prints its seed for a replay.
seed() { od -An -N4 -tu4 /dev/urandom | tr -d ' '; }
export SKYVANE_CRASH_SEED="${SKYVANE_CRASH_SEED:-$(seed)}"
export SKYVANE_SOAK_SEED="${SKYVANE_SOAK_SEED:-$(seed)}"
export SKYVANE_LIE_SEED="${SKYVANE_LIE_SEED:-$(seed)}"

export CCACHE_BASEDIR="$PWD"
if [ ! -f build/build.ninja ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
fi
# The soak programs and what they run (the installer, the publisher).
cmake --build build --target test_soak
ctest --test-dir build --output-on-failure -V -L soak "$@"
