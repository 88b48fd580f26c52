"""What the benchmark scripts read of a running program in /proc."""

import os


def cpu_seconds(pid):
    """The process's CPU time: the scheduler's own count, in nanoseconds,
    summed over its threads. The clock-tick figures of /proc/PID/stat are
    10 ms grains, too coarse for a process that runs a fraction of a
    millisecond a second."""
    total = 0
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, tid)) as schedstat:
                total += int(schedstat.read().split()[0])
        except FileNotFoundError:
            continue  # the thread ended meanwhile
    return total / 1e9
