"""What the Windows end-to-end tests share under Wine: the prefix (prepared
or copied), an X display of the test's own, the device's pseudo-terminal as
a COM port, Windows programs started and ended, waiting, and the programs'
output shown when a test fails. Standard library only.
"""

import argparse
import ctypes
import fcntl
import glob
import json
import os
import select
import signal
import struct
import subprocess
import sys
import tempfile
import time
import tty
import unittest
import zlib

DEADLINE = 60.0
_REST = []


def wait_for(what, condition, timeout=DEADLINE, interval=0.3):
    """The first true value of `condition()`; fails naming `what` if none
    came within `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError('never came: ' + what)
        time.sleep(interval)


class LineReader:
    """Lines from a file descriptor or socket, with deadlines."""

    def __init__(self, read):
        self._read = read
        self._pending = b''

    def next(self, timeout):
        deadline = time.monotonic() + timeout
        while b'\n' not in self._pending:
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            chunk = self._read(left)
            if chunk is None:
                continue
            if chunk == b'':
                return None
            self._pending += chunk
        line, self._pending = self._pending.split(b'\n', 1)
        return line.decode('utf-8', 'replace')


class Device:
    """The device's end of the serial link: the pseudo-terminal's master."""

    def __init__(self, line_deadline=15.0):
        self.master, self.slave = os.openpty()
        tty.setraw(self.master)
        tty.setraw(self.slave)
        self.slave_path = os.ttyname(self.slave)
        self._line_deadline = line_deadline
        self._lines = LineReader(self._read)

    def _read(self, timeout):
        ready, _, _ = select.select([self.master], [], [], timeout)
        if not ready:
            return None
        try:
            return os.read(self.master, 65536)
        except OSError:
            return b''

    def send(self, message):
        os.write(self.master, (json.dumps(message, separators=(',', ':')) + '\n').encode())

    def next_line(self, timeout=None):
        """The next non-empty line, or None."""
        deadline = time.monotonic() + (self._line_deadline if timeout is None else timeout)
        while True:
            line = self._lines.next(max(0.0, deadline - time.monotonic()))
            if line != '':
                return line

    def lines_for(self, seconds):
        """Every line that arrives within `seconds`."""
        lines = []
        deadline = time.monotonic() + seconds
        while True:
            line = self.next_line(max(0.0, deadline - time.monotonic()))
            if line is None:
                return lines
            lines.append(line)

    def lines_until_quiet(self, quiet, limit=60.0):
        """Every line until none has arrived for `quiet` seconds."""
        lines = []
        deadline = time.monotonic() + limit
        while True:
            line = self.next_line(min(quiet, max(0.0, deadline - time.monotonic())))
            if line is None:
                return lines
            lines.append(line)

    def close(self):
        os.close(self.master)
        os.close(self.slave)


def _end_with_parent():
    """In a child before it executes: SIGTERM when the test's process ends,
    however it ends (a test killed at its time-out leaves no display behind)."""
    pr_set_pdeathsig = 1
    ctypes.CDLL(None, use_errno=True).prctl(pr_set_pdeathsig, signal.SIGTERM)


class Display:
    """An Xvfb of the test's own; `name` is the value for DISPLAY."""

    def __init__(self, size='1024x768'):
        read_end, write_end = os.pipe()
        # -noreset: when Wine's last window goes (the program quit) the server
        # would reset, and a screenshot taken just then fails to connect.
        self._xvfb = subprocess.Popen(['Xvfb', '-displayfd', str(write_end), '-screen', '0', size + 'x24',
                                       '-nolisten', 'tcp', '-noreset'], pass_fds=[write_end], preexec_fn=_end_with_parent,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as number:
            self.name = ':' + number.readline().strip()

    def stop(self):
        self._xvfb.terminate()
        self._xvfb.wait()


def prepared_prefix(wrapper, server):
    """The prefix in which `wrapper` runs programs beside the test media
    server, made ready first."""
    return subprocess.run([wrapper, '--prepare', server], check=True, capture_output=True,
                          text=True).stdout.strip()


def copy_prefix(source, target):
    """`source` copied to `target` under the source's own lock, without its
    COM ports."""
    with open(source + '.lock', 'w') as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        subprocess.run(['cp', '-a', source, target], check=True)
    for port in glob.glob(os.path.join(target, 'dosdevices', 'com[0-9]*')):
        os.remove(port)


class ComPort:
    """The device's pseudo-terminal as a COM port of the prefix, numbered by
    this process so that parallel runs do not meet."""

    def __init__(self, prefix, device, offset=0):
        self.name = 'COM%d' % (100 + (os.getpid() + offset) % 150)
        self._link = os.path.join(prefix, 'dosdevices', self.name.lower())
        if os.path.lexists(self._link):
            os.remove(self._link)
        os.symlink(device.slave_path, self._link)

    def remove(self):
        os.remove(self._link)


def png(width, height, pixel):
    """An RGB PNG file's bytes; `pixel(x, y)` gives each pixel's (red, green, blue)."""
    rows = b''.join(b'\x00' + bytes(channel for x in range(width) for channel in pixel(x, y))
                    for y in range(height))

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))

    header = struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0)
    return b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(rows, 9)) + chunk(b'IEND', b'')


def windows_path(path):
    """`path` as Windows programs under Wine see it, through drive Z:."""
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


def end_wine(env, timeout=60):
    """Ends every Windows program in the prefix of `env` and its wineserver."""
    subprocess.run(['wineserver', '-k'], env=env, stderr=subprocess.DEVNULL)
    subprocess.run(['wineserver', '-w'], env=env, timeout=timeout)


class WineTestCase(unittest.TestCase):
    """A test whose Windows programs are ended with it and whose programs'
    output is shown if it fails."""

    def setUp(self):
        self._logs = []

    def log(self, title):
        """A file for a program's output, shown under `title` if the test fails."""
        file = tempfile.TemporaryFile()
        self._logs.append((title, file))
        return file

    def log_text(self, file):
        return os.pread(file.fileno(), 1 << 20, 0).decode('utf-8', 'replace')

    def start(self, title, argv, env, **options):
        """A started program, whose output goes to its `log` and which is
        ended (killed if need be) when the test ends."""
        output = self.log(title)
        process = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=output, stderr=output,
                                   **options)
        process.log = output
        self.addCleanup(self._end, process)
        return process

    @staticmethod
    def _end(process):
        if process.poll() is None:
            process.kill()
        process.wait()

    def run(self, result=None):
        result = result or self.defaultTestResult()
        problems = len(result.failures) + len(result.errors)
        super().run(result)
        if len(result.failures) + len(result.errors) > problems:
            for title, file in getattr(self, '_logs', []):
                self._show(title, file)
        for _, file in getattr(self, '_logs', []):
            file.close()
        return result

    def _show(self, title, file):
        # ALSA's complaints about the missing sound card only hide the rest.
        lines = [line for line in self.log_text(file).splitlines() if not line.startswith('ALSA lib')]
        if lines:
            print('\n%s:\n  %s' % (title, '\n  '.join(lines[-30:])), file=sys.stderr)


def arguments(*required, optional=()):
    """The script's own options (each one value); the rest is unittest's."""
    parser = argparse.ArgumentParser()
    for option in required:
        parser.add_argument(option, required=True)
    for option in optional:
        parser.add_argument(option)
    parsed, rest = parser.parse_known_args()
    _REST[:] = rest
    return parsed


def run_tests():
    unittest.main(module='__main__', argv=[sys.argv[0]] + _REST, verbosity=2)
