#!/usr/bin/env bash
# The demo of tools/demo.sh, scripted: on a private session bus and sound
# server, mpv plays the sample tracks and the program must bring the first
# track's title and its cover art to the simulated device.
# usage: demo_test.sh BUILD_FOLDER   (exit 77: a program the demo needs is missing)
set -euo pipefail

build=${1:?usage: demo_test.sh BUILD_FOLDER}
root=$(cd "$(dirname "$0")/../.." && pwd)

for program in dbus-daemon pulseaudio pactl mpv ffmpeg; do
  command -v "$program" >/dev/null || { echo "skipped: $program is not installed"; exit 77; }
done
[[ -f /etc/mpv/scripts/mpris.so || -f /usr/lib/mpv-mpris/mpris.so ]] || { echo "skipped: mpv-mpris is not installed"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/olvex-demo-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/runtime"

cat >"$work/script" <<'SCRIPT'
timeout 60
wait-for now_playing "title":"First Light","artist":"The Test Tones","album":"Sample Sessions"
wait-for art
quit
SCRIPT

# No bus and no sound server of the machine's own: the demo starts its own.
status=0
env -u DBUS_SESSION_BUS_ADDRESS -u PULSE_SERVER XDG_RUNTIME_DIR="$work/runtime" OLVEX_DEMO=1 \
  OLVEX_DEMO_SCRIPT="$work/script" timeout 120 bash "$root/tools/demo.sh" "$build" >"$work/received" \
  2>"$work/log" || status=$?

if [[ $status -ne 0 ]]; then
  echo "the demo ended with status $status; what the simulator received:"
  cut -c 1-200 "$work/received"
  echo "its log:"
  cat "$work/log"
  exit 1
fi
playing='^\{"event":"now_playing","status":"playing","title":"First Light",'
grep -Eq "$playing" "$work/received" || { echo "no now_playing of First Light while playing"; exit 1; }
# A whole square: 16384 bytes are 21848 characters of base64, the last two "=".
awk '/^\{"event":"art","data":"[A-Za-z0-9+\/]+=="\}$/ && length($0) == 21848 + 25 { found = 1 }
     END { exit !found }' "$work/received" || { echo "no art message with a whole 128x128 square"; exit 1; }
echo "the device received the title and the art"
