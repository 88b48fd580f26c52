#!/usr/bin/env python3
"""Wake-ups of the real program while it idles, connected to a silent device.

usage: idle-wakeups.py PROGRAM [SECONDS]

A pseudo-terminal plays the device: it answers the greeting, then reads and
discards what comes. Once the program has settled, each of its threads'
context switches (voluntary and not, from /proc/PID/task/TID/status) and the
process's CPU time are counted over SECONDS (default 60). Run it on a desktop
with a session bus (tools/bench-idle.sh provides a private one).
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

SETTLE_SECONDS = 5
connected = threading.Event()


def play_device(master):
    received = b""
    answered = False
    while True:
        try:
            if not select.select([master], [], [])[0]:
                continue
            data = os.read(master, 4096)
        except OSError:
            return
        if not data:
            return
        if answered:
            continue
        received += data
        if b'"hello"' in received:
            os.write(master, b'{"event":"hello_ack","device":"bench"}\n')
            answered = True
            connected.set()


def switches(pid):
    counts = {}
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/status" % (pid, tid)) as status:
                fields = dict(line.split(":", 1) for line in status if ":" in line)
        except FileNotFoundError:
            continue
        total = int(fields["voluntary_ctxt_switches"]) + int(fields["nonvoluntary_ctxt_switches"])
        counts[tid] = total
    return counts


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main():
    program = sys.argv[1]
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 60.0
    master, slave = os.openpty()
    tty.setraw(master)
    # Held open so that the master does not read as hung up before the
    # program opens the slave.
    slave_path = os.ttyname(slave)
    threading.Thread(target=play_device, args=(master,), daemon=True).start()
    with tempfile.TemporaryDirectory() as state:
        environment = dict(os.environ, OLVEX_AUDIO_PORT=slave_path, XDG_STATE_HOME=state)
        environment.setdefault("PULSE_SERVER", "unix:" + os.path.join(state, "no-sound-server"))
        child = subprocess.Popen([program], env=environment, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            if not connected.wait(30):
                sys.exit("the program never greeted the device")
            time.sleep(SETTLE_SECONDS)
            before, cpu_before, start = switches(child.pid), cpu_seconds(child.pid), time.monotonic()
            time.sleep(seconds)
            after, cpu_after, elapsed = switches(child.pid), cpu_seconds(child.pid), time.monotonic() - start
        finally:
            child.send_signal(signal.SIGTERM)
            child.wait(timeout=10)
    total = 0
    for tid in sorted(after, key=int):
        woke = after[tid] - before.get(tid, 0)
        total += woke
        print("thread %s: %.1f wake-ups/s" % (tid, woke / elapsed))
    print("all %d threads: %.1f wake-ups/s, %.1f ms of CPU in %.0f s" %
          (len(after), total / elapsed, (cpu_after - cpu_before) * 1e3, elapsed))


if __name__ == "__main__":
    main()
