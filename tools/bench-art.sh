#!/usr/bin/env bash
# Measures the cover art conversion: time per picture next to decoding alone
# and next to Pillow doing the same steps two ways (whole decode, and draft()
# with reducing_gap), and the peak memory of one conversion for ordinary
# pictures and for shapes at the decoder's ceiling. Ours and Pillow's timings
# alternate, ROUNDS times, so that both meet the same load of a shared
# machine. Prints the tables that docs/benchmarks.md shows.
#
# Usage: tools/bench-art.sh     (BUILD_DIR=... to use a build other than build/linux,
#                                ROUNDS=... for other than 5 rounds)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build/linux}
if [[ -z ${BUILD_DIR:-} ]]; then
  cmake --preset linux >/dev/null
fi
cmake --build "$build" --target olvex_art_bench >/dev/null

work="$build/bench-art"
rm -rf "$work"
mkdir -p "$work"
python=/usr/bin/python3
script=bench/pillow_art_bench.py

$python $script write tests/art/pictures "$work/timed" "$work/memory" >/dev/null

for round in $(seq "${ROUNDS:-5}"); do
  "$build/bench/olvex_art_bench" "$work/timed" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
    --benchmark_out="$work/ours-$round.json" --benchmark_out_format=json >/dev/null
  $python $script time "$work/timed" "$work/pillow-$round.json" >/dev/null
done

: >"$work/memory.txt"
for picture in "$work"/timed/* "$work"/memory/*; do
  "$build/bench/olvex_art_bench" --peak-memory "$picture" >>"$work/memory.txt"
done

grep -m1 'model name' /proc/cpuinfo | sed 's/.*: /cpu: /'
echo "cores: $(nproc)"
$python $script table "$work"
