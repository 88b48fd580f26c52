#!/usr/bin/env bash
# Measures the CPU time of the device session while idle: connected to a
# silent device, and searching with no device present (default 60 s each).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset linux >/dev/null
cmake --build --preset linux --target olvex_session_idle >/dev/null
build/linux/bench/olvex_session_idle connected "$seconds"
build/linux/bench/olvex_session_idle searching "$seconds"
