#!/usr/bin/env bash
# Measures the device session while idle: its CPU time connected to a silent
# device and searching with no device present; then the whole program's
# wake-ups per second, thread by thread, connected to a silent device on a
# private session bus without a sound server (default 60 s each).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset linux >/dev/null
cmake --build --preset linux --target olvex_session_idle olvex-audio-control >/dev/null
build/linux/bench/olvex_session_idle connected "$seconds"
build/linux/bench/olvex_session_idle searching "$seconds"
# dbus-daemon complains that it may not raise its file limit when not root's
# to raise; that line says nothing about the program.
dbus-run-session -- python3 tools/idle-wakeups.py build/linux/app/olvex-audio-control "$seconds" \
  2> >(grep -v 'Failed to set fd limit' >&2)
