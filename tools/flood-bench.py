#!/usr/bin/env python3
"""A player's flood of changes against the real program.

usage: flood-bench.py PROGRAM STAND_IN_PLAYER [RATE] [SECONDS]

A pseudo-terminal plays the device, reading at 115200 baud (11520 bytes a
second). Once the program has greeted it, the stand-in player starts and,
after a second, sends RATE new titles a second (default 1000) for SECONDS
(default 10). Printed: the program's CPU share while the flood lasts (the
scheduler's count over all its threads), the delay from the flood's end to
the final title's now_playing line on the device, and how many lines and
bytes the device read. Run it on a private session bus (tools/bench-flood.sh).
"""

import os
import select
import signal
import subprocess
import sys
import tempfile
import threading
import time
import tty

from process_figures import cpu_seconds

LINE_RATE = 11520  # bytes a second at 115200 baud, 8N1
connected = threading.Event()
final_seen = threading.Event()
totals = {"lines": 0, "bytes": 0}


def play_device(master, final_title):
    received = b""
    answered = False
    while True:
        try:
            select.select([master], [], [])
            data = os.read(master, 1024)
        except OSError:
            return
        if not data:
            return
        time.sleep(len(data) / LINE_RATE)
        received += data
        if not answered and b'"hello"' in received:
            os.write(master, b'{"event":"hello_ack"}\n')
            answered = True
            connected.set()
        *lines, received = received.split(b"\n")
        for line in lines:
            totals["lines"] += 1
            totals["bytes"] += len(line) + 1
            if b'"title":"' + final_title + b'"' in line:
                final_seen.set()


def main():
    program, player_program = sys.argv[1], sys.argv[2]
    rate = int(sys.argv[3]) if len(sys.argv) > 3 else 1000
    seconds = int(sys.argv[4]) if len(sys.argv) > 4 else 10
    final_title = b"Title %d" % (rate * seconds)
    master, slave = os.openpty()
    tty.setraw(master)
    threading.Thread(target=play_device, args=(master, final_title), daemon=True).start()
    with tempfile.TemporaryDirectory() as state:
        environment = dict(os.environ, XDG_STATE_HOME=state, XDG_RUNTIME_DIR=state,
                           OLVEX_AUDIO_PORT=os.ttyname(slave),
                           PULSE_SERVER="unix:" + os.path.join(state, "no-sound-server"))
        child = subprocess.Popen([program], env=environment, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        player = None
        try:
            if not connected.wait(30):
                sys.exit("the program never greeted the device")
            time.sleep(2)
            player = subprocess.Popen([player_program, "/bin/sleep", "600"], stdout=subprocess.PIPE,
                                      env=dict(environment, STAND_IN_TITLES="%d,%d" % (rate, seconds)))
            time.sleep(1)
            cpu_before, start = cpu_seconds(child.pid), time.monotonic()
            if player.stdout.readline().strip() != b"flood over":
                sys.exit("the player did not flood")
            ended = time.monotonic()
            cpu = cpu_seconds(child.pid) - cpu_before
            arrived = final_seen.wait(60)
            delay = time.monotonic() - ended
            print("%d titles a second for %d s: %.1f %% of a core during the flood; final title %s; "
                  "device read %d lines, %d bytes" %
                  (rate, seconds, cpu / (ended - start) * 100,
                   "%.2f s after the flood" % delay if arrived else "not within 60 s",
                   totals["lines"], totals["bytes"]))
        finally:
            if player:
                player.terminate()
                player.wait(timeout=10)
            child.send_signal(signal.SIGTERM)
            child.wait(timeout=10)


if __name__ == "__main__":
    main()
