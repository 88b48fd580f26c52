#!/usr/bin/env bash
# Measures what gathering the process facts for one change of application
# costs on Windows with 300 processes and 200 top-level windows, under Wine
# (no Windows machine here), in a Wine prefix of its own.
#
# Usage: tools/bench-process-facts.sh     (BUILD_DIR=... to use a build other than build/windows)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build/windows}
if [[ -z ${BUILD_DIR:-} ]]; then
  cmake --preset windows -DOLVEX_BUILD_BENCH=ON >/dev/null
fi
cmake --build "$build" --target olvex_process_facts_bench >/dev/null

own_prefix=
if [[ -z ${WINEPREFIX:-} ]]; then
  own_prefix=$(mktemp -d /tmp/olvex-bench-wine.XXXXXX)
  export WINEPREFIX=$own_prefix/prefix
fi
grep -m1 'model name' /proc/cpuinfo | sed 's/.*: /cpu: /'
echo "cores: $(nproc), $(wine --version 2>/dev/null)"
cmake/wine-run "$build/bench/olvex_process_facts_bench.exe"
wineserver -k || true
if [[ -f "$WINEPREFIX.display" ]]; then
  read -r _ xvfb <"$WINEPREFIX.display"
  kill "$xvfb" 2>/dev/null || true
  rm -f "$WINEPREFIX.display"
fi
if [[ -n $own_prefix ]]; then rm -rf "$own_prefix"; fi
