#!/usr/bin/env bash
# Runs every fuzz target for the given number of seconds (default 60), each
# starting from its committed seed corpus plus what earlier runs found, as
# many at once as the machine has cores (FUZZ_JOBS to choose).
# Usage: tools/run-fuzz.sh [seconds] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
build=build/fuzz
jobs=${FUZZ_JOBS:-$(nproc)}
[[ -d $build ]] || cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null

targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
  for seeds in fuzz/corpus/*/; do targets+=("$(basename "$seeds")"); done
fi

fuzz() {
  local target=$1 work="$build/corpus/$1" log="$build/$1.log"
  mkdir -p "$work" "$build/artifacts"
  if ! "$build/fuzz/${target}_fuzz" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/${target}-" "$work" "fuzz/corpus/$target" >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz target $target failed; the input is in $build/artifacts/"
    return 1
  fi
  echo "$target: $(grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" | tr '\n' ' ')"
}

echo "fuzzing ${targets[*]} for ${seconds}s each, $jobs at once"
failed=0
running=0
for target in "${targets[@]}"; do
  if ((running >= jobs)); then
    wait -n || failed=1
    running=$((running - 1))
  fi
  fuzz "$target" &
  running=$((running + 1))
done
while ((running > 0)); do
  wait -n || failed=1
  running=$((running - 1))
done
exit "$failed"
