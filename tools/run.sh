#!/usr/bin/env bash
# Builds the program for the machine at hand and starts it. Installs what is
# missing first. With an OLVEX device plugged into a desktop the program runs
# alone until Ctrl+C (SIGINT) or SIGTERM; anywhere else tools/demo.sh plays
# sample tracks on a private desktop and shows the device simulator ("q"
# ends the demo).
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target olvex-audio-control olvex-simulator
exec bash tools/demo.sh build/linux
