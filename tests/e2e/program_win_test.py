#!/usr/bin/python3
"""The whole Windows program under Wine, end to end.

A pseudo-terminal plays the device (linked as a Wine COM port), and the test
media server plays the PC's media sessions, driven over its TCP control
channel. Standard library only.

    program_win_test.py --wrapper cmake/wine-run-media-server --server SERVER.dll
                        --program olvex-audio-control.exe --plain-wine cmake/wine-run
"""

import json
import os
import select
import socket
import subprocess
import sys
import time
import unittest

import wine_harness as wine
from wine_harness import LineReader

ARGS = None

TICKS_PER_SECOND = 10_000_000
# Under Wine on a busy machine (sanitizer builds beside it) seconds go by
# between cause and effect: waits for a line that must come are long, and a
# window in which nothing may arrive is well over the one-second quiet period.
LINE_DEADLINE = 15.0
SILENCE = 3.0
ART_TEXT_SIZE = 21848
NO_SESSION_LINE = ('{"event":"now_playing","status":"none","title":"","artist":"","album":"",'
                   '"position_s":0.0,"duration_s":0.0}')
EMPTY_ART_LINE = '{"event":"art","data":""}'


def png(width, height, seed):
    """A small RGB PNG whose pixels depend on `seed`."""
    return wine.png(width, height,
                    lambda x, y: ((x * 7 + seed) % 256, (y * 5 + seed * 3) % 256, (x + y + seed) % 256))


class ServerControl:
    """The test media server's control channel; the server connects to us."""

    def __init__(self):
        self._listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._listener.bind(('127.0.0.1', 0))
        self._listener.listen(1)
        self.address = '127.0.0.1:%d' % self._listener.getsockname()[1]
        self._socket = None
        self._lines = LineReader(self._read)
        self.commands = []

    def accept(self, timeout):
        self._listener.settimeout(timeout)
        self._socket, _ = self._listener.accept()

    def _read(self, timeout):
        ready, _, _ = select.select([self._socket], [], [], timeout)
        return self._socket.recv(65536) if ready else None

    def run(self, line, timeout=LINE_DEADLINE):
        """Sends one control line; returns the reply's value."""
        self._socket.sendall((line + '\n').encode())
        deadline = time.monotonic() + timeout
        while True:
            reply = self._lines.next(max(0.0, deadline - time.monotonic()))
            if reply is None:
                raise AssertionError('no reply to %r' % line[:80])
            if reply.startswith('command '):
                self.commands.append(reply[len('command '):])
                continue
            if not reply.startswith('ok'):
                raise AssertionError('%r: %s' % (line[:80], reply))
            return reply[3:]

    def call_count(self, method):
        """How often the program has called the server's `method` so far."""
        for entry in self.run('read calls').split('|'):
            name, _, count = entry.partition('=')
            if name == method:
                return int(count)
        return 0

    def wait_for_calls(self, method, count, timeout=LINE_DEADLINE):
        wine.wait_for('%d calls of %s' % (count, method), lambda: self.call_count(method) >= count, timeout, 0.1)

    def wait_for_commands(self, count, timeout=LINE_DEADLINE):
        """The media commands logged so far, once there are `count`."""
        deadline = time.monotonic() + timeout
        while len(self.commands) < count:
            line = self._lines.next(max(0.0, deadline - time.monotonic()))
            if line is None:
                break
            if line.startswith('command '):
                self.commands.append(line[len('command '):])
        return list(self.commands)

    def close(self):
        if self._socket:
            self._socket.close()
        self._listener.close()


def now_playing(line):
    message = json.loads(line)
    return message if message.get('event') == 'now_playing' else None


class ProgramUnderWine(wine.WineTestCase):

    def setUp(self):
        super().setUp()
        prefix = wine.prepared_prefix(ARGS.wrapper, ARGS.server)
        self.device = wine.Device(LINE_DEADLINE)
        self.addCleanup(self.device.close)
        self.port = wine.ComPort(prefix, self.device)
        self.addCleanup(self.port.remove)
        self.control = ServerControl()
        self.addCleanup(self.control.close)
        self.env = dict(os.environ, OLVEX_AUDIO_PORT=self.port.name, OLVEX_TEST_MEDIA_CONTROL=self.control.address)
        self.program = self.start('program output', [ARGS.wrapper, ARGS.server, ARGS.program], self.env)

    def add_session(self, app_id, title, thumbnail):
        session = self.control.run('add ' + app_id)
        self.control.run('properties %s %s\tArtist of %s\tAlbum of %s' % (session, title, title, title))
        self.control.run('thumbnail %s %s' % (session, thumbnail.hex()))
        self.control.run('playback %s 4 1.0' % session)
        self.control.run('timeline %s 0 %d %d now' % (session, 240 * TICKS_PER_SECOND, 12 * TICKS_PER_SECOND))
        return session

    def start_with_player(self, *setting_up):
        """Starts the program with one player, First, current and the
        `setting_up` commands given to it; answers the device's greeting and
        returns the player and what start-up pushed."""
        self.control.accept(timeout=120.0)
        player = self.add_session('Player.App', 'First', png(200, 100, 1))
        for command in setting_up:
            self.control.run(command % player)
        self.control.run('current ' + player)
        self.control.run('start')
        self.assertEqual(self.device.next_line(60.0), '{"event":"hello"}')
        self.device.send({'event': 'hello_ack', 'version': '1', 'device': 'pty'})
        return player, self.settle_start_up()

    def settle_start_up(self):
        """Every line the device gets after its hello_ack until the start-up
        has settled: the state push, which ends with "lock", and the start-up
        announcement if that went out after the device answered (one earlier
        found no device and was dropped)."""
        lines = []
        while not any(line.startswith('{"event":"lock"') for line in lines):
            line = self.device.next_line()
            self.assertIsNotNone(line, 'the state push ended early: %r' % lines[:3])
            lines.append(line)
        # The push and the announcement each open the thumbnail once; the
        # announcement queues its now_playing before that, so once both have,
        # only art can still be on its way.
        self.control.wait_for_calls('StreamReference.OpenReadAsync', 2)
        return lines + self.device.lines_until_quiet(SILENCE)

    def expect_track(self, title, after_seconds=None, new_art=True):
        """A track change as the device sees it: one now_playing, then its art
        (unless the device has that picture already), after the quiet second
        and nothing else."""
        started = time.monotonic()
        line = self.device.next_line()
        waited = time.monotonic() - started
        self.assertIsNotNone(line, 'no now_playing for %s' % title)
        message = now_playing(line)
        self.assertIsNotNone(message, line[:200])
        self.assertEqual(message['title'], title)
        self.assertEqual(message['artist'], 'Artist of ' + title)
        self.assertEqual(message['status'], 'playing')
        self.assertEqual(message['duration_s'], 240.0)
        if after_seconds is not None:
            self.assertGreaterEqual(waited, after_seconds, 'announced before the quiet second')
        if not new_art:
            return None
        art = self.device.next_line()
        self.assertIsNotNone(art, 'art missing')
        self.assertTrue(art.startswith('{"event":"art","data":"'), art[:200])
        self.assertEqual(len(json.loads(art)['data']), ART_TEXT_SIZE)
        return art

    def test_follows_the_media_session_and_carries_out_the_device_commands(self):
        player, pushed = self.start_with_player()
        self.assertIn('{"event":"lock","locked":false}', pushed)
        titles = [message['title'] for message in map(now_playing, pushed) if message]
        self.assertIn('First', titles, pushed[:3])
        self.assertEqual(set(titles), {'First'}, pushed[:3])
        arts = [line for line in pushed if line.startswith('{"event":"art"')]
        self.assertTrue(arts, pushed[:3])
        self.assertEqual(len(set(arts)), 1, 'the start-up art lines differ')

        # A second copy in the same session ends at once and leaves the port
        # alone: the steps below still talk to the first.
        second = subprocess.run([ARGS.wrapper, ARGS.server, ARGS.program], env=self.env, capture_output=True,
                                timeout=120)
        self.assertEqual(second.returncode, 0)
        self.assertIn('already running', second.stderr.decode('utf-8', 'replace'))
        self.assertEqual(self.device.lines_for(1.0), [])

        # A track change: the device hears of it once, after the quiet second.
        self.control.run('properties %s Second\tArtist of Second\tAlbum of Second' % player)
        self.control.run('thumbnail %s %s' % (player, png(100, 300, 2).hex()))
        self.control.run('raise %s media_properties' % player)
        self.assertNotEqual(self.expect_track('Second', after_seconds=0.8), arts[0])
        self.assertEqual(self.device.lines_for(SILENCE), [])

        # Device commands reach the session with their arguments.
        for message in [{'event': 'play_pause'}, {'event': 'next'}, {'event': 'previous'},
                        {'event': 'seek', 'position_s': 12.5}, {'event': 'seek_relative', 'position': 0.25}]:
            self.device.send(message)
        self.assertEqual(self.control.wait_for_commands(5), [
            'TryTogglePlayPauseAsync Player.App',
            'TrySkipNextAsync Player.App',
            'TrySkipPreviousAsync Player.App',
            'TryChangePlaybackPositionAsync Player.App 125000000',
            'TryChangePlaybackPositionAsync Player.App 600000000',
        ])

        # Locked, the program keeps its session while the platform moves on.
        self.device.send({'event': 'set_lock', 'locked': True})
        self.assertEqual(self.device.next_line(), '{"event":"lock","locked":true}')
        other = self.add_session('Other.App', 'Other', png(64, 64, 3))
        self.control.run('current ' + other)
        self.control.run('raise current_session_changed')
        self.device.send({'event': 'play_pause'})
        self.assertEqual(self.control.wait_for_commands(6)[5], 'TryTogglePlayPauseAsync Player.App')
        self.assertEqual(self.device.lines_for(SILENCE), [])

        # Unlocked, it moves to the platform's current session at once.
        self.device.send({'event': 'set_lock', 'locked': False})
        self.assertEqual(self.device.next_line(), '{"event":"lock","locked":false}')
        self.expect_track('Other')
        self.device.send({'event': 'next'})
        self.assertEqual(self.control.wait_for_commands(7)[6], 'TrySkipNextAsync Other.App')

        # The sessions go away: nothing plays, and the art is cleared.
        self.control.run('remove ' + player)
        self.control.run('remove ' + other)
        self.control.run('raise sessions_changed')
        self.assertEqual([self.device.next_line(), self.device.next_line()], [NO_SESSION_LINE, EMPTY_ART_LINE])
        self.assertEqual(self.device.lines_for(SILENCE), [])

        print('\nserver calls: ' + self.control.run('read calls').replace('|', ', '), file=sys.stderr)
        self.assertEqual(self.control.run('read violations'), '')
        self.assertIsNone(self.program.poll(), 'the program ended')

    def test_a_player_that_never_answers_holds_up_neither_the_device_nor_the_volume(self):
        player, _ = self.start_with_player()

        # The player stops answering: the resync's reading of it is given up
        # after five seconds, and the rest of the resync follows.
        self.control.run('hang Session.TryGetMediaPropertiesAsync on')
        asked = time.monotonic()
        self.device.send({'event': 'resync', 'what': 15})
        volume = self.device.next_line()
        lock = self.device.next_line()
        waited = time.monotonic() - asked
        self.assertTrue(volume and volume.startswith('{"event":"volume"'), volume)
        self.assertEqual(lock, '{"event":"lock","locked":false}')
        self.assertLess(waited, 6.0)
        self.assertGreaterEqual(self.control.call_count('Operation<MediaProperties>.Cancel'), 1)

        # set_volume asks the session for its application alone, which it
        # still gives, and holds up nothing behind it. (Wine has no audio
        # session of the player's to report a level from.)
        readings = self.control.call_count('Session.TryGetMediaPropertiesAsync')
        app_ids = self.control.call_count('Session.get_SourceAppUserModelId')
        asked = time.monotonic()
        self.device.send({'event': 'set_volume', 'volume': 40})
        self.device.send({'event': 'resync', 'what': 8})
        self.assertEqual(self.device.next_line(), '{"event":"lock","locked":false}')
        self.assertLess(time.monotonic() - asked, 4.0)
        self.assertEqual(self.control.call_count('Session.get_SourceAppUserModelId'), app_ids + 1)
        self.assertEqual(self.control.call_count('Session.TryGetMediaPropertiesAsync'), readings)

        # It answers again (its abandoned readings finish late, too): the
        # next track change reaches the device.
        self.control.run('hang Session.TryGetMediaPropertiesAsync off')
        self.control.run('properties %s Again\tArtist of Again\tAlbum of Again' % player)
        self.control.run('raise %s media_properties' % player)
        self.expect_track('Again', new_art=False)  # the start-up's picture

        log = self.log_text(self.program.log)
        self.assertIn('smtc: TryGetMediaPropertiesAsync did not finish within 5s', log)
        self.assertEqual(self.control.run('read violations'), '')
        self.assertIsNone(self.program.poll(), 'the program ended')


    def test_what_a_player_floods_the_device_with_is_bounded_and_kept_current(self):
        """A title of a megabyte reaches the device cut to 256 characters, no
        line but art is longer than 4 KiB, and after a burst of timeline
        changes a resync is answered at once, with the last position."""
        # paused: the position stays where it is put
        player, seen = self.start_with_player('playback %s 5 1.0')

        self.control.run('long_title %s %d' % (player, 1 << 20))
        self.control.run('raise %s media_properties' % player)
        announced = self.device.next_line()
        self.assertIsNotNone(announced, 'no now_playing for the long title')
        self.assertEqual(now_playing(announced)['title'], 'x' * 256)
        # Each change is raised at once across apartments, slow under Wine.
        self.control.run('timeline_burst %s 300' % player, timeout=120.0)
        seen += [announced] + self.device.lines_until_quiet(SILENCE)
        for line in seen:
            if not line.startswith('{"event":"art"'):
                self.assertLessEqual(len(line.encode()) + 1, 4096, line[:100])

        self.device.send({'event': 'resync', 'what': 9})
        answer = [self.device.next_line(), self.device.next_line()]
        self.assertEqual(answer[1], '{"event":"lock","locked":false}')
        self.assertEqual(now_playing(answer[0])['position_s'], 12.3)  # 12 s and 300 ms
        self.assertEqual(self.control.run('read violations'), '')

class ProgramWithoutMediaSessions(unittest.TestCase):

    def test_start_up_fails_with_an_error_line_and_status_1(self):
        env = dict(os.environ)
        env.pop('OLVEX_TEST_MEDIA_CONTROL', None)
        ended = subprocess.run([ARGS.plain_wine, ARGS.program], env=env, capture_output=True, timeout=120)
        errors = [line for line in ended.stderr.decode('utf-8', 'replace').splitlines()
                  if not line.startswith('ALSA lib')]
        self.assertEqual(ended.returncode, 1, errors)
        self.assertTrue(any(line.startswith('Error: ') for line in errors), errors)


def main():
    global ARGS
    ARGS = wine.arguments('--wrapper', '--server', '--program', '--plain-wine')
    wine.run_tests()


if __name__ == '__main__':
    main()
