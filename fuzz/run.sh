#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each, one after another, from its seed
# corpus (made once by make-seeds.sh). Prints executions and coverage per
# target; a crash leaves its input in BUILD/fuzz/crashes/ and fails the run.
#
#   fuzz/run.sh SECONDS [TARGET...]
#
# Environment: SKYVANE_FUZZ_BUILD (default build-fuzz), SKYVANE_PUBLISH (for
# the seeds), SKYVANE_FUZZ_FORK unset.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(server_list manifest prefs header http cmdline zip 7z minisig)
build="${SKYVANE_FUZZ_BUILD:-$root/build-fuzz}"

if ! echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
  clang++ -x c++ -fsanitize=fuzzer - -o /dev/null 2>/dev/null; then
  echo "fuzz: clang's libFuzzer runtime is missing (install libclang-rt-14-dev); skipped"
  exit 0
fi
if [ ! -f "$build/build.ninja" ]; then
  launch=()
  command -v ccache >/dev/null && launch=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launch[@]}" \
    -DSKYVANE_FUZZ=ON -DSKYVANE_TESTS=OFF >/dev/null
fi
if ! cmake --build "$build" --target fuzz_all -j "${SKYVANE_FUZZ_JOBS:-2}" >"$build/build.log" 2>&1; then
  echo "fuzz: building the targets failed; the end of $build/build.log:"
  tail -40 "$build/build.log"
  exit 1
fi

seeds="$build/fuzz/seeds"
# A corpus is complete only with its marker (written last); anything else is
# left from an interrupted run and made again.
if [ ! -f "$seeds/.complete" ]; then
  bash "$root/fuzz/make-seeds.sh" "$seeds" || { echo "fuzz: making the seed corpus failed"; exit 1; }
fi
crashes="$build/fuzz/crashes"
mkdir -p "$crashes"

export ASAN_OPTIONS="allocator_may_return_null=1:detect_leaks=0:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
status=0
printf '%-12s %10s %8s %8s %s\n' target execs cov ft result
for t in "${targets[@]}"; do
  corpus="$build/fuzz/corpus/$t"
  mkdir -p "$corpus"
  log="$build/fuzz/$t.log"
  # A single allocation beyond the memory limit is a finding (a size taken
  # from the input and reserved unchecked), except in the 7z target: the 7z
  # reader of libarchive reserves its tables from the header's counts before
  # it checks them against the data (a damaged header asks for gigabytes of
  # untouched memory, and the read then fails); there the memory really used
  # (rss) is what is limited.
  malloc_limit=2560
  [ "$t" = 7z ] && malloc_limit=1048576
  "$build/fuzz/fuzz_$t" "$corpus" "$seeds/$t" -max_total_time="$seconds" -max_len=65536 -timeout=20 \
    -rss_limit_mb=2560 -malloc_limit_mb=$malloc_limit -artifact_prefix="$crashes/$t-" -print_final_stats=1 \
    >"$log" 2>&1
  rc=$?
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*')
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*')
  result=ok
  if [ $rc -ne 0 ]; then
    result="FAILED (see $log)"
    status=1
  fi
  printf '%-12s %10s %8s %8s %s\n' "$t" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$result"
done
exit $status
