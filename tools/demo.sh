#!/usr/bin/env bash
# Starts the program for the machine at hand.
#
# With an OLVEX device plugged into a desktop (a session bus and a
# CircuitPython data port), the program runs alone, as it would every day.
#
# Anywhere else it runs a demo: a session bus and a PulseAudio server with a
# null sink where none runs (private to the demo), three short tagged sample
# tracks with cover art played by a headless mpv (its MPRIS plugin makes it
# a media session), and the device simulator showing what the device would,
# with the program pointed at it. Quitting the simulator ("q") ends it all.
#
# usage: tools/demo.sh [BUILD_FOLDER]   (default build/linux; needs the
#        olvex-audio-control and olvex-simulator targets built)
# OLVEX_DEMO_SCRIPT=FILE runs the simulator with --script FILE instead of the
# keyboard: every message the device receives is printed as a JSON line on
# standard output, and the demo's exit status is the script's.
# OLVEX_DEMO=1 runs the demo even with a device plugged in.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/linux}" && pwd)
program=$build/app/olvex-audio-control
simulator=$build/tools/simulator/olvex-simulator

say() { echo "demo: $*" >&2; }

session_bus_present() {
  [[ -n ${DBUS_SESSION_BUS_ADDRESS:-} ]] || [[ -S ${XDG_RUNTIME_DIR:-/nonexistent}/bus ]]
}

# The program looks for "CircuitPython CDC2" in the port's USB interface
# name; so does this.
device_present() {
  local interface
  for interface in /sys/class/tty/ttyACM*/device/interface; do
    [[ -r $interface ]] && grep -qi 'circuitpython cdc2' "$interface" && return 0
  done
  return 1
}

if [[ ${OLVEX_DEMO:-0} != 1 ]] && session_bus_present && device_present; then
  exec "$program"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/olvex-demo.XXXXXX")
chmod 755 "$work"
started=()

# Ends what the demo started, newest first, and removes its files.
clean_up() {
  local pid
  for ((i = ${#started[@]} - 1; i >= 0; i--)); do
    pid=${started[i]}
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${started[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap clean_up EXIT
trap 'exit 130' INT TERM HUP

# Waits up to ten seconds for a command to succeed.
wait_for() {
  local tries
  for ((tries = 0; tries < 200; tries++)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.05
  done
  return 1
}

start_session_bus() {
  say "starting a session bus of its own"
  dbus-daemon --session --nofork --nopidfile --address="unix:path=$work/bus" \
    --print-address=1 >"$work/bus.address" 2>"$work/bus.log" &
  started+=($!)
  wait_for test -s "$work/bus.address" || { say "the session bus did not start: $(cat "$work/bus.log")"; exit 1; }
  DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus.address")
  export DBUS_SESSION_BUS_ADDRESS
}

start_sound_server() {
  say "starting a PulseAudio server of its own with a null sink"
  mkdir -p "$work/pulse"
  HOME=$work/pulse XDG_RUNTIME_DIR=$work/pulse XDG_CONFIG_HOME=$work/pulse DBUS_SESSION_BUS_ADDRESS='' \
    pulseaudio --daemonize=no --exit-idle-time=-1 --disallow-exit -n --use-pid-file=no --disable-shm=yes \
    -L "module-native-protocol-unix auth-anonymous=1 socket=$work/pulse/native" \
    -L "module-null-sink sink_name=demo" >"$work/pulse.log" 2>&1 &
  started+=($!)
  export PULSE_SERVER=unix:$work/pulse/native
  wait_for pactl info || { say "PulseAudio did not start: $(tail -n 5 "$work/pulse.log")"; exit 1; }
}

# A sound server is asked for, never spawned as a side effect of asking.
printf 'autospawn = no\n' >"$work/client.conf"
export PULSE_CLIENTCONFIG=$work/client.conf

session_bus_present || start_session_bus
pactl info >/dev/null 2>&1 || start_sound_server

mapfile -t tracks < <(bash "$root/tools/make-sample-tracks.sh" "$work/tracks" | cut -f 1)
[[ ${#tracks[@]} -gt 0 ]] || { say "could not write the sample tracks (is ffmpeg installed?)"; exit 1; }

# Each track loops until "next" moves on; the playlist wraps round.
mpv --no-terminal --no-video --ao=pulse --loop-file=inf --loop-playlist=inf --volume=50 "${tracks[@]}" &
started+=($!)

if [[ -n ${OLVEX_DEMO_SCRIPT:-} ]]; then
  "$simulator" --script "$OLVEX_DEMO_SCRIPT" --run "$program"
else
  "$simulator" --run "$program"
fi
