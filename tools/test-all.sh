#!/usr/bin/env bash
# Builds both platforms and runs every test: Windows under Wine, Linux
# natively (plain, with ASan+UBSan, with TSan), and the fuzz targets for a
# short while. Installs what is missing first.
#
# Two lanes share the machine. The builds run one preset after the other at
# low priority; each preset's tests start as soon as it is built and the
# tests before them are done, at normal priority, so a compiler beside them
# does not eat into their deadlines. Windows goes first: its tests under Wine
# wait the most. Build output goes to build/logs/; the run ends with a table
# of where the time went.
set -euo pipefail
cd "$(dirname "$0")/.."

FUZZ_SECONDS=${FUZZ_SECONDS:-30}
PRESETS=(windows linux linux-asan linux-tsan fuzz)
LOGS=build/logs

# Runs the command and notes under `part` how many seconds it took.
timed() {
  local part=$1 start=$SECONDS status=0
  shift
  "$@" || status=$?
  printf '%-28s %6d\n' "$part" $((SECONDS - start)) >>"$LOGS/timings.txt"
  return "$status"
}

build() {
  cmake --preset "$1" >"$LOGS/$1.build.log" 2>&1 &&
    nice -n 10 cmake --build --preset "$1" >>"$LOGS/$1.build.log" 2>&1
}

# The build lane: names each preset once it is built, or says which failed.
build_all() {
  for preset in "${PRESETS[@]}"; do
    if timed "build $preset" build "$preset"; then
      echo "$preset"
    else
      echo "failed $preset"
      return 1
    fi
  done
}

run_tests_of() {
  echo "== test: $1"
  if [[ $1 == fuzz ]]; then
    timed "fuzz (${FUZZ_SECONDS} s per target)" bash tools/run-fuzz.sh "$FUZZ_SECONDS"
  else
    timed "test $1" ctest --preset "$1"
  fi
}

report() {
  echo "== time (seconds; both lanes run at once, so the parts add up to more than the whole)"
  cat "$LOGS/timings.txt"
  printf '%-28s %6d\n' "whole run" "$SECONDS"
  echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
}

mkdir -p "$LOGS"
: >"$LOGS/timings.txt"
timed "install dependencies" bash tools/install-deps.sh
rm -f "$LOGS/built"
mkfifo "$LOGS/built"
# Under job control the build lane gets a process group of its own, which
# ends whole (compilers included) if the tests fail first.
set -m
build_all >"$LOGS/built" &
builder=$!
set +m
trap 'kill -- -"$builder" 2>/dev/null || true; rm -f "$LOGS/built"' EXIT
exec 3<"$LOGS/built"
while read -r built <&3; do
  if [[ $built == failed* ]]; then
    preset=${built#failed }
    tail -n 40 "$LOGS/$preset.build.log"
    echo "build of $preset failed; its whole output is in $LOGS/$preset.build.log"
    exit 1
  fi
  echo "== built: $built"
  run_tests_of "$built"
done
wait "$builder"
report
