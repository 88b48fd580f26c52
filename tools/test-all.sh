#!/usr/bin/env bash
# Builds both platforms and runs every test: Linux natively (plain, with
# ASan+UBSan, with TSan), the fuzz targets for a short while, and Windows under
# Wine. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."

FUZZ_SECONDS=${FUZZ_SECONDS:-30}

bash tools/install-deps.sh

for preset in linux linux-asan linux-tsan windows fuzz; do
  echo "== build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

echo "== fuzz: ${FUZZ_SECONDS} s per target"
bash tools/run-fuzz.sh "$FUZZ_SECONDS"

for preset in linux linux-asan linux-tsan windows; do
  echo "== test: $preset"
  ctest --preset "$preset"
done
