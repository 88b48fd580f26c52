#!/usr/bin/env bash
# A player's flood of 1,000 new titles a second for 10 s against the real
# program on a private session bus, the device reading at 115200 baud: the
# program's CPU share during the flood and the delay of the final title (see
# tools/flood-bench.py). `bash tools/bench-flood.sh [program]` measures
# another build of the program when one is given.
set -euo pipefail
cd "$(dirname "$0")/.."
program=${1:-build/linux/app/olvex-audio-control}
cmake --preset linux >/dev/null
cmake --build --preset linux --target olvex-audio-control stand_in_player >/dev/null
# dbus-daemon complains that it may not raise its file limit when not root's
# to raise; that line says nothing about the program.
dbus-run-session -- python3 tools/flood-bench.py "$program" build/linux/tests/stand_in_player 1000 10 \
  2> >(grep -v 'Failed to set fd limit' >&2)
