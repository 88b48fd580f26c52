#!/usr/bin/python3
"""The Windows installer under Wine, silently, in a Wine prefix of the test's
own: install, the menu's "Start at logon", an upgrade over the running
program, uninstall.

The prefix is a copy of the test media server's (the installed program needs
media sessions to start). A small Windows probe lists the program's tray
windows and chooses the menu entry, as a person's hand would.

    installer_win_test.py --wrapper cmake/wine-run-media-server --server SERVER.dll
                          --installer SETUP.exe --probe tray_window_probe.exe --version 0.1.0
"""

import glob
import os
import subprocess
import tempfile
import time

import wine_harness as wine
from wine_harness import DEADLINE

ARGS = None
NAME = 'OLVEX-Audio-Control'
EXE = 'olvex-audio-control.exe'
UNINSTALL_KEY = 'HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\' + NAME
RUN_KEY = 'HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run'


class InstallerUnderWine(wine.WineTestCase):

    def setUp(self):
        super().setUp()
        scratch = tempfile.TemporaryDirectory()
        self.addCleanup(scratch.cleanup)
        self.prefix = os.path.join(scratch.name, 'prefix')
        wine.copy_prefix(wine.prepared_prefix(ARGS.wrapper, ARGS.server), self.prefix)
        display = wine.Display('800x600')
        self.addCleanup(display.stop)
        # No desktop entries for the shortcut in this machine's menus.
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG='-all', DISPLAY=display.name,
                        WINEDLLOVERRIDES='mscoree,mshtml,winemenubuilder.exe=')
        self.env.pop('OLVEX_TEST_MEDIA_CONTROL', None)
        self.env.pop('OLVEX_AUDIO_PORT', None)
        self.addCleanup(wine.end_wine, self.env)

    def wine(self, *arguments, check=True):
        return subprocess.run(['wine'] + list(arguments), env=self.env, stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, check=check, timeout=DEADLINE)

    def run_detached(self, *arguments):
        """A Windows program whose descendants outlive it: they must not hold
        the test's pipes."""
        output = self.log(' '.join(arguments))
        ended = subprocess.run(['wine'] + list(arguments), env=self.env, stdin=subprocess.DEVNULL,
                               stdout=output, stderr=output, timeout=DEADLINE)
        self.assertEqual(ended.returncode, 0, arguments)

    def user_folder(self, *parts):
        users = [user for user in glob.glob(os.path.join(self.prefix, 'drive_c', 'users', '*'))
                 if os.path.basename(user) != 'Public']
        self.assertEqual(len(users), 1, users)
        return os.path.join(users[0], *parts)

    def windows_path(self, path):
        relative = os.path.relpath(path, os.path.join(self.prefix, 'drive_c'))
        return 'C:\\' + relative.replace('/', '\\')

    def registry_values(self, key):
        """The values of `key` as {name: text}, or None when it does not exist."""
        queried = self.wine('reg', 'query', key, check=False)
        if queried.returncode != 0:
            return None
        values = {}
        for line in queried.stdout.splitlines():
            fields = line.strip().split('    ', 2)
            if len(fields) == 3:
                values[fields[0]] = fields[2]
        return values

    def run_value(self):
        return (self.registry_values(RUN_KEY) or {}).get(NAME)

    def tray_processes(self):
        return [int(line) for line in self.wine(ARGS.probe, 'list').stdout.split()]

    def one_program_other_than(self, earlier):
        def single():
            processes = self.tray_processes()
            return processes[0] if len(processes) == 1 and processes[0] not in earlier else None
        process = wine.wait_for('one running program', single)
        # A second copy started late would show up now, or end at once.
        time.sleep(2.0)
        self.assertEqual(self.tray_processes(), [process])
        return process

    def choose_start_at_logon(self, expected_value):
        self.wine(ARGS.probe, 'toggle-start-at-logon')
        wine.wait_for('the Run value as %r' % expected_value, lambda: self.run_value() == expected_value or None)

    def test_silent_install_upgrade_and_uninstall(self):
        folder = self.user_folder('AppData', 'Local', 'Programs', NAME)
        shortcut = self.user_folder('AppData', 'Roaming', 'Microsoft', 'Windows', 'Start Menu', 'Programs',
                                    NAME + '.lnk')
        program = self.windows_path(os.path.join(folder, EXE))
        uninstaller = self.windows_path(os.path.join(folder, 'uninstall.exe'))

        self.run_detached(ARGS.installer, '/S', '/RUN')
        first = self.one_program_other_than([])
        self.assertTrue({EXE, 'uninstall.exe'} <= set(os.listdir(folder)), os.listdir(folder))
        with open(shortcut, 'rb') as link:
            self.assertIn(EXE.encode('utf-16-le'), link.read())
        entry = self.registry_values(UNINSTALL_KEY)
        size_kb = int(entry.pop('EstimatedSize'), 16)
        files_kb = sum(os.path.getsize(os.path.join(folder, name)) for name in (EXE, 'uninstall.exe')) // 1024
        self.assertTrue(files_kb <= size_kb <= files_kb + 8, (size_kb, files_kb))
        self.assertEqual(entry, {
            'DisplayName': NAME,
            'DisplayVersion': ARGS.version,
            'Publisher': 'OLVEX',
            'DisplayIcon': program + ',0',
            'InstallLocation': self.windows_path(folder),
            'UninstallString': '"%s"' % uninstaller,
            'QuietUninstallString': '"%s" /S' % uninstaller,
            'NoModify': '0x1',
            'NoRepair': '0x1',
        })
        self.assertEqual(self.run_value(), '"%s"' % program)

        # Turned off in the menu, starting at logon stays off over an upgrade,
        # which ends the running copy and starts the new one.
        self.choose_start_at_logon(None)
        self.run_detached(ARGS.installer, '/S', '/RUN')
        second = self.one_program_other_than([first])
        self.assertIsNone(self.run_value())
        self.assertEqual(self.registry_values(UNINSTALL_KEY)['InstallLocation'], self.windows_path(folder))
        self.choose_start_at_logon('"%s"' % program)

        # The log goes with a silent uninstall, wherever the program wrote it.
        fallback_log = self.user_folder('AppData', 'Local', NAME, 'crash.log')
        os.makedirs(os.path.dirname(fallback_log), exist_ok=True)
        for log in (os.path.join(folder, 'crash.log'), fallback_log):
            with open(log, 'w') as out:
                out.write('a line\n')
        # The uninstaller returns at once and goes on from a copy of itself.
        self.run_detached(self.windows_path(os.path.join(folder, 'uninstall.exe')), '/S')
        wine.wait_for('the folder removed', lambda: not os.path.exists(folder))
        self.assertFalse(os.path.exists(os.path.dirname(fallback_log)))
        self.assertFalse(os.path.exists(shortcut))
        self.assertIsNone(self.registry_values(UNINSTALL_KEY))
        self.assertIsNone(self.run_value())
        self.assertEqual(self.tray_processes(), [], 'program %d still running' % second)


def main():
    global ARGS
    ARGS = wine.arguments('--wrapper', '--server', '--installer', '--probe', '--version')
    wine.run_tests()


if __name__ == '__main__':
    main()
