#!/usr/bin/env bash
# Takes the README's pictures of the Linux icon in a real notification area:
# gtk-sni-tray-standalone (a GTK host of StatusNotifierItems, with a watcher
# of its own) on a private X display (Xvfb) and a private session bus.
#
#   docs/tray-linux-no-device.png  red: no device connected
#   docs/tray-linux-connected.png  green, the device simulator connected, with
#                                  the tooltip showing the playing track
#   docs/tray-linux-menu.png       the menu open
#
# Then it chooses "Quit" in that menu and fails unless the program ends with
# status 0.
#
# usage: tools/tray-screenshots.sh [BUILD_FOLDER]   (default build/linux; needs
#        the olvex-audio-control and olvex-simulator targets built)
set -euo pipefail
[[ -n ${TRAY_SCREENSHOTS_TRACE:-} ]] && set -x

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/linux}" && pwd)
program=$build/app/olvex-audio-control
simulator=$build/tools/simulator/olvex-simulator
docs=${TRAY_SCREENSHOTS_DOCS:-$root/docs}

say() { echo "tray-screenshots: $*" >&2; }

work=$(mktemp -d)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The whole X screen as a PNG, cut to WIDTHxHEIGHT+X+Y.
screenshot() {
  xwd -root -silent >"$work/screen.xwd"
  /usr/bin/python3 - "$work/screen.xwd" "$1" "$2" <<'PY'
import re, struct, sys
from PIL import Image
data = open(sys.argv[1], "rb").read()
fields = struct.unpack(">25I", data[:100])
header_size, width, height = fields[0], fields[4], fields[5]
bits_per_pixel, bytes_per_line, colours = fields[11], fields[12], fields[19]
layout = {24: "BGR", 32: "BGRX"}[bits_per_pixel]  # Xvfb's depth 24 packs three bytes a pixel
start = header_size + 12 * colours
image = Image.frombuffer("RGB", (width, height), data[start:start + bytes_per_line * height], "raw", layout,
                         bytes_per_line, 1)
w, h, x, y = map(int, re.fullmatch(r"(\d+)x(\d+)\+(\d+)\+(\d+)", sys.argv[3]).groups())
# At twice the size, pixel for pixel, so that a 24 px icon can be made out.
image.crop((x, y, x + w, y + h)).resize((2 * w, 2 * h), Image.Resampling.NEAREST).save(sys.argv[2], optimize=True)
PY
  say "wrote $1"
}

export DISPLAY=:87
Xvfb "$DISPLAY" -screen 0 480x240x24 -wr -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

bus_address=$(dbus-daemon --session --fork --print-address=1 --print-pid=3 3>"$work/bus.pid")
pids+=("$(cat "$work/bus.pid")")
export DBUS_SESSION_BUS_ADDRESS=$bus_address
export XDG_RUNTIME_DIR=$work XDG_STATE_HOME=$work PULSE_SERVER=unix:$work/no-sound-server
export GTK_THEME=Adwaita NO_AT_BRIDGE=1

gtk-sni-tray-standalone --watcher --top >"$work/tray.log" 2>&1 &
pids+=($!)
sleep 2

# The port the program is told to use stays missing until the simulator's
# pseudo-terminal is linked there: first red, then green.
OLVEX_AUDIO_PORT=$work/port "$program" &
program_pid=$!
pids+=("$program_pid")
sleep 2
screenshot "$docs/tray-linux-no-device.png" 160x40+0+0

bash "$root/tools/make-sample-tracks.sh" "$work/tracks" >/dev/null 2>&1
mpv --no-terminal --no-video --ao=null --loop-file=inf "$(ls "$work"/tracks/*.flac | head -n1)" &
pids+=($!)
printf 'timeout 120\nsleep 110\n' >"$work/device.script"
"$simulator" --script "$work/device.script" --port-file "$work/pty" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [[ -s $work/pty ]] && break; sleep 0.1; done
ln -s "$(head -n1 "$work/pty")" "$work/port"
sleep 5

read -r icon_x icon_y < <(xdotool search --onlyvisible --class gtk-sni-tray getwindowgeometry --shell | \
  awk -F= '/^X=/{x=$2} /^Y=/{y=$2} END{print x + 12, y + 12}')
xdotool mousemove "$icon_x" "$icon_y"
sleep 2
screenshot "$docs/tray-linux-connected.png" 240x90+0+0

xdotool click 3
sleep 1
screenshot "$docs/tray-linux-menu.png" 160x90+0+0

# The menu's first entry, chosen from the keyboard.
xdotool key Down Return
for _ in $(seq 50); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$program_pid" 2>/dev/null; then say "the program still runs after Quit"; exit 1; fi
if ! wait "$program_pid"; then say "the program did not end with status 0 after Quit"; exit 1; fi
say "Quit in the menu ended the program with status 0"
