#!/usr/bin/env bash
# The program's idle costs and answer time, on a private session bus without
# a sound server: connected to a silent device (with no player, then while
# mpv plays), and searching with no device (CPU share, wake-ups per second of
# the whole process and of each thread, threads, resident memory; default
# 60 s each), then 200 resync round trips on a pseudo-terminal. Also the
# device session alone (olvex_session_idle).
# `bash tools/bench-idle.sh [seconds] [program]` measures another build of the
# program when one is given.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
program=${2:-build/linux/app/olvex-audio-control}
cmake --preset linux >/dev/null
cmake --build --preset linux --target olvex_session_idle olvex-audio-control >/dev/null
build/linux/bench/olvex_session_idle connected "$seconds"
build/linux/bench/olvex_session_idle searching "$seconds"
# dbus-daemon complains that it may not raise its file limit when not root's
# to raise; that line says nothing about the program.
for mode in connected playing searching; do
  dbus-run-session -- python3 tools/idle-wakeups.py "$program" "$mode" "$seconds" \
    2> >(grep -v 'Failed to set fd limit' >&2)
done
dbus-run-session -- python3 tools/idle-wakeups.py "$program" roundtrip 200 \
  2> >(grep -v 'Failed to set fd limit' >&2)
