#!/usr/bin/python3
"""The Windows program's icon in a real notification area, under Wine.

Wine's virtual desktop with its shell (explorer /desktop=shell) draws a
taskbar whose notification area takes Shell_NotifyIconW, on an Xvfb of the
test's own. The test looks at the icon in screenshots (xwd), right-clicks it
and chooses Quit with xdotool, as a person would. A pseudo-terminal linked as
a COM port plays the device.

    tray_desktop_win_test.py --wrapper cmake/wine-run-media-server --server SERVER.dll
                             --program olvex-audio-control.exe [--screenshot FILE.png]

--screenshot keeps the corner of the screen with the menu open (the picture
in docs/tray-menu.png).
"""

import os
import struct
import subprocess
import tempfile
import time

import wine_harness as wine
from wine_harness import DEADLINE, windows_path

ARGS = None
LEFT_OUT = 100


class Screenshot:
    """The X screen's pixels, read from xwd's dump (32-bit TrueColor)."""

    def __init__(self, display):
        dump = subprocess.run(['xwd', '-root', '-silent', '-display', display], check=True,
                              capture_output=True).stdout
        fields = struct.unpack('>25I', dump[:100])
        header_size, self.width, self.height = fields[0], fields[4], fields[5]
        self._pixels = dump[header_size + fields[19] * 12:]
        # Xvfb's root has come as 32 and as 24 bits a pixel, the latter with a
        # header's line length that does not match the data; the data's own
        # size tells.
        self._step = fields[11] // 8
        self._line = len(self._pixels) // self.height

    def pixel(self, x, y):
        at = y * self._line + x * self._step
        blue, green, red = self._pixels[at:at + 3]
        return red, green, blue

    def count(self, box, colour):
        """How many pixels in `box` (left, top, right, bottom) are clearly `colour`."""
        left, top, right, bottom = box
        return sum(1 for y in range(top, bottom) for x in range(left, right)
                   if is_colour(self.pixel(x, y), colour))

    def find(self, colour):
        """The bounding box of the pixels clearly of `colour`, or None. The
        left of the screen, where the Start button's red-lit picture lies, is
        left out."""
        found = [(x, y) for y in range(self.height) for x in range(LEFT_OUT, self.width)
                 if is_colour(self.pixel(x, y), colour)]
        if not found:
            return None
        xs, ys = [x for x, _ in found], [y for _, y in found]
        return min(xs), min(ys), max(xs) + 1, max(ys) + 1

    def save_png(self, path, box):
        left, top, right, bottom = box
        with open(path, 'wb') as out:
            out.write(wine.png(right - left, bottom - top, lambda x, y: self.pixel(left + x, top + y)))


def is_colour(rgb, colour):
    red, green, blue = rgb
    if colour == 'light':
        return min(rgb) >= 200
    if colour == 'red':
        return red > 150 and green < 90 and blue < 90
    return green > 120 and red < 90 and blue < 90


class TrayInWinesDesktop(wine.WineTestCase):

    def setUp(self):
        super().setUp()
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        display = wine.Display()
        self.addCleanup(display.stop)
        self.display = display.name
        prefix = wine.prepared_prefix(ARGS.wrapper, ARGS.server)
        self.device = wine.Device()
        self.addCleanup(self.device.close)
        port = wine.ComPort(prefix, self.device, offset=75)
        self.addCleanup(port.remove)
        # Explorer gives no exit status of what it starts; cmd waits for the
        # program and writes its status down.
        self.status_file = os.path.join(folder.name, 'status.txt')
        batch = os.path.join(folder.name, 'run.cmd')
        with open(batch, 'w', newline='\r\n') as out:
            out.write('@start /wait "" "%s"\n' % windows_path(ARGS.program))
            out.write('@echo %%errorlevel%%>"%s"\n' % windows_path(self.status_file))
        env = dict(os.environ, DISPLAY=self.display, OLVEX_AUDIO_PORT=port.name)
        env.pop('OLVEX_TEST_MEDIA_CONTROL', None)
        self.start('shell output', [ARGS.wrapper, ARGS.server, 'explorer', '/desktop=shell,800x600',
                                    'cmd', '/c', windows_path(batch)], env)

    def wait_for_icon(self, colour):
        return wine.wait_for('a %s icon on the screen' % colour,
                             lambda: Screenshot(self.display).find(colour), interval=0.5)

    def xdotool(self, *arguments):
        subprocess.run(['xdotool'] + [str(argument) for argument in arguments], check=True,
                       env=dict(os.environ, DISPLAY=self.display))

    def click(self, button):
        # A press and a release apart: Wine's notification area missed the
        # release of xdotool's "click", which comes in the same instant.
        self.xdotool('mousedown', button)
        time.sleep(0.2)
        self.xdotool('mouseup', button)

    def right_click_opens_menu(self, icon, entry):
        # Wine's notification area now and then misses a click that comes
        # while it shows the tooltip; a person would click again.
        self.xdotool('mousemove', *icon)
        time.sleep(0.5)
        self.click(3)
        deadline = time.monotonic() + 5.0
        while time.monotonic() < deadline:
            box = (entry[0] - 15, entry[1] - 4, entry[0] + 15, entry[1] + 4)
            if Screenshot(self.display).count(box, 'light') > 100:
                return True
            time.sleep(0.3)
        return False

    def test_the_icon_turns_green_with_the_device_and_quit_removes_it(self):
        red = self.wait_for_icon('red')
        self.assertEqual(self.device.next_line(DEADLINE), '{"event":"hello"}')
        self.device.send({'event': 'hello_ack', 'version': '1', 'device': 'pty'})
        green = self.wait_for_icon('green')
        # The same place: the icon changed, no second one came.
        self.assertLess(abs(green[0] - red[0]) + abs(green[1] - red[1]), 6, (red, green))
        self.assertEqual(Screenshot(self.display).find('red'), None)

        centre = ((green[0] + green[2]) // 2, (green[1] + green[3]) // 2)
        # At the screen's corner the menu opens above the taskbar and left of
        # the pointer; its one entry, mostly light on the dark desktop, is just
        # there.
        entry = (centre[0] - 20, centre[1] - 20)
        self.assertTrue(any(self.right_click_opens_menu(centre, entry) for _ in range(3)), 'no menu')
        if ARGS.screenshot:
            Screenshot(self.display).save_png(ARGS.screenshot, (centre[0] - 250, centre[1] - 110,
                                                                centre[0] + 11, centre[1] + 10))
        self.xdotool('mousemove', *entry)
        self.click(1)

        wine.wait_for('the program to end', lambda: os.path.exists(self.status_file), interval=0.5)
        with open(self.status_file) as status:
            self.assertEqual(status.read().strip(), '0')
        time.sleep(1.0)
        after = Screenshot(self.display)
        self.assertEqual((after.find('green'), after.find('red')), (None, None), 'the icon stayed')


def main():
    global ARGS
    ARGS = wine.arguments('--wrapper', '--server', '--program', optional=('--screenshot',))
    wine.run_tests()


if __name__ == '__main__':
    main()
