#!/usr/bin/env bash
# Publisher speed: builds skyvane-publish optimised, makes the demo product and
# publishes it ROUNDS times (best of), then compresses the same bytes with the
# standard tools for reference: `7z` (LZMA2, multi-threaded) over the global
# scenery and `zip -6` over everything else, one archive each.
# Usage: bench/publish_bench.sh [ROUNDS]   (default 3)
# The build folder can be chosen with BENCH_BUILD_DIR (default build-bench).
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-3}
dir=${BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSKYVANE_TESTS=OFF >/dev/null
cmake --build "$dir" --target skyvane-publish -j2 >/dev/null
publisher="$PWD/$dir/tools/skyvane-publish"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
SKYVANE_PUBLISH="$publisher" bash scripts/make-demo.sh "$work/demo" >/dev/null
product="$work/demo/product"
mb=$(du -sb "$product" | awk '{printf "%.2f", $1 / 1e6}')
files=$(find "$product" -type f | wc -l)

now() { date +%s.%N; }
best_pub=""
for r in $(seq "$rounds"); do
  rm -rf "$work/out"
  t0=$(now)
  "$publisher" --product "$product" --release R --out "$work/out" --mirror "127.0.0.1|/files/|bench" \
    --platforms "$work/demo/platforms.txt" >/dev/null
  t=$(echo "$(now) - $t0" | bc)
  if [ -z "$best_pub" ] || [ "$(echo "$t < $best_pub" | bc)" = 1 ]; then best_pub=$t; fi
done

best_ref=""
for r in $(seq "$rounds"); do
  rm -f "$work/ref.7z" "$work/ref.zip"
  t0=$(now)
  (cd "$product" && find . -path '*Global Scenery*' -type f -print0 |
    xargs -0 7z a -bd -y -m0=lzma2 -mx=6 -mmt=on "$work/ref.7z" >/dev/null)
  (cd "$product" && find . -type f ! -path '*Global Scenery*' -print0 | xargs -0 zip -q -6 "$work/ref.zip")
  t=$(echo "$(now) - $t0" | bc)
  if [ -z "$best_ref" ] || [ "$(echo "$t < $best_ref" | bc)" = 1 ]; then best_ref=$t; fi
done

printf 'demo product: %s files, %s MB, %s cores, load %s\n' "$files" "$mb" "$(nproc)" \
  "$(cut -d' ' -f1 /proc/loadavg)"
printf 'skyvane-publish (one archive per file, signed): %.2f s  %.2f MB/s\n' "$best_pub" \
  "$(echo "$mb / $best_pub" | bc -l)"
printf '7z + zip (two archives, unsigned):             %.2f s  %.2f MB/s\n' "$best_ref" \
  "$(echo "$mb / $best_ref" | bc -l)"
printf 'ratio (publisher / reference time): %.2f\n' "$(echo "$best_pub / $best_ref" | bc -l)"
