#!/usr/bin/env python3
"""Idle costs and answer time of the real program.

usage: idle-wakeups.py PROGRAM connected|playing|searching [SECONDS]
       idle-wakeups.py PROGRAM roundtrip [COUNT]

connected: a pseudo-terminal plays the device; it answers the greeting, then
reads and discards what comes. playing: connected, while mpv (with its MPRIS
plugin) plays a tone on its null output. searching: no device at all (the program
searches the machine's serial ports). Once the program has settled, each of
its threads' context switches (voluntary and not, from
/proc/PID/task/TID/status), the process's CPU time (the threads'
/proc/PID/task/TID/schedstat, in nanoseconds), its threads and its
resident memory are read over SECONDS (default 60).

roundtrip: connected as above, the device sends {"event":"resync","what":8}
COUNT times (default 200), one at a time, and times each until the program's
lock line arrives; prints the median and the 99th percentile.

Run it on a desktop with a session bus (tools/bench-idle.sh provides a
private one).
"""

import os
import select
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import tty

from process_figures import cpu_seconds

SETTLE_SECONDS = 5
RESYNC_LOCK = b'{"event":"resync","what":8}\n'
connected = threading.Event()
lock_lines = threading.Semaphore(0)
player_seen = threading.Event()


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
        received += data
        if not answered and b'"hello"' in received:
            os.write(master, b'{"event":"hello_ack","device":"bench"}\n')
            answered = True
            connected.set()
        # Whole lines only: a lock line may arrive in two reads.
        *lines, received = received.split(b"\n")
        for line in lines:
            if b"Bench tone" in line:
                player_seen.set()
            if answered and b'"event":"lock"' in line:
                lock_lines.release()


def switches(pid):
    counts = {}
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/status" % (pid, tid)) as status:
                fields = dict(line.split(":", 1) for line in status if ":" in line)
        except FileNotFoundError:
            continue
        counts[tid] = int(fields["voluntary_ctxt_switches"]) + int(fields["nonvoluntary_ctxt_switches"])
    return counts


def resident_mib(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0


def measure_idle(pid, seconds, state):
    time.sleep(SETTLE_SECONDS)
    before, cpu_before, start = switches(pid), cpu_seconds(pid), time.monotonic()
    time.sleep(seconds)
    after, cpu_after, elapsed = switches(pid), cpu_seconds(pid), time.monotonic() - start
    total = 0
    for tid in sorted(after, key=int):
        woke = after[tid] - before.get(tid, 0)
        total += woke
        print("  thread %s: %.2f wake-ups/s" % (tid, woke / elapsed))
    cpu = cpu_after - cpu_before
    print("%s: %.2f wake-ups/s, %.1f ms of CPU in %.0f s (%.4f %% of a core), %d threads, %.1f MiB resident" %
          (state, total / elapsed, cpu * 1e3, elapsed, cpu / elapsed * 100, len(after), resident_mib(pid)))


def start_player(folder, environment):
    tone = os.path.join(folder, "tone.ogg")
    subprocess.run(["ffmpeg", "-loglevel", "error", "-f", "lavfi", "-i", "sine=frequency=440:duration=600",
                    "-metadata", "title=Bench tone", "-metadata", "artist=Bench", tone], check=True)
    return subprocess.Popen(["mpv", "--no-config", "--script=/usr/lib/mpv-mpris/mpris.so", "--ao=null",
                             "--no-video", "--really-quiet", tone],
                            env=environment, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def measure_round_trips(master, count):
    times = []
    for _ in range(count):
        start = time.perf_counter()
        os.write(master, RESYNC_LOCK)
        if not lock_lines.acquire(timeout=5):
            sys.exit("no lock line within 5 s")
        times.append((time.perf_counter() - start) * 1e3)
    times.sort()
    p99 = times[min(len(times) - 1, int(round(0.99 * len(times))) - 1)]
    print("resync 8 to lock line, %d round trips: median %.3f ms, 99th percentile %.3f ms" %
          (count, statistics.median(times), p99))


def main():
    program, mode = sys.argv[1], sys.argv[2]
    amount = float(sys.argv[3]) if len(sys.argv) > 3 else (200 if mode == "roundtrip" else 60.0)
    master, slave = os.openpty()
    tty.setraw(master)
    # The slave stays open here, so that the master does not read as hung up
    # before the program opens it.
    slave_path = os.ttyname(slave)
    threading.Thread(target=play_device, args=(master,), daemon=True).start()
    with tempfile.TemporaryDirectory() as state:
        environment = dict(os.environ, XDG_STATE_HOME=state, XDG_RUNTIME_DIR=state)
        environment.setdefault("PULSE_SERVER", "unix:" + os.path.join(state, "no-sound-server"))
        if mode == "searching":
            environment.pop("OLVEX_AUDIO_PORT", None)
        else:
            environment["OLVEX_AUDIO_PORT"] = slave_path
        player = start_player(state, environment) if mode == "playing" else None
        child = subprocess.Popen([program], env=environment, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            if mode != "searching" and not connected.wait(30):
                sys.exit("the program never greeted the device")
            if mode == "playing" and not player_seen.wait(30):
                sys.exit("the device never heard of the playing tone")
            if mode == "roundtrip":
                time.sleep(SETTLE_SECONDS)
                measure_round_trips(master, int(amount))
            else:
                measure_idle(child.pid, amount, mode)
        finally:
            child.send_signal(signal.SIGTERM)
            child.wait(timeout=10)
            if player:
                player.terminate()
                player.wait(timeout=10)


if __name__ == "__main__":
    main()
