#!/usr/bin/env bash
# Runs every fuzz target for the given number of seconds (default 60), each
# starting from its committed seed corpus plus what earlier runs found.
# Usage: tools/run-fuzz.sh [seconds] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
build=build/fuzz
[[ -d $build ]] || { cmake --preset fuzz >/dev/null && cmake --build --preset fuzz; }

targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
  for seeds in fuzz/corpus/*/; do targets+=("$(basename "$seeds")"); done
fi

for target in "${targets[@]}"; do
  work="$build/corpus/$target"
  mkdir -p "$work" "$build/artifacts"
  log="$build/$target.log"
  echo "fuzzing $target for ${seconds}s"
  if ! "$build/fuzz/${target}_fuzz" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/${target}-" "$work" "fuzz/corpus/$target" >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz target $target failed; the input is in $build/artifacts/"
    exit 1
  fi
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$log"
done
