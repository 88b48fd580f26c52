#!/usr/bin/env bash
# Builds the program for the machine at hand and starts it. Installs what is
# missing first. On Linux it runs until Ctrl+C (SIGINT) or SIGTERM.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target olvex-audio-control
exec build/linux/app/olvex-audio-control
