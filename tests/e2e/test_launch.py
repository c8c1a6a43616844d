"""The launch gate and the main window of the installed program, read from outside."""

import os
import shutil
import subprocess
import unittest

import atspi
import x11
from atspi import Program

TITLE = "Quorlen · On-device key safe"
HEADING = "Your most powerful keys stay on this Mac."
EXPLANATION = (
    "Stored in this device’s protected Keychain, not Quorlen’s servers. Each copy requires "
    "macOS approval. There is no agent access, cloud sync, or recovery on a replacement "
    "device. Keep an independent recovery copy."
)
WARNING = (
    "Copy only when necessary: other apps can read the clipboard. Never paste a master key "
    "into an AI conversation. Give agents separate, restricted keys instead. This preview "
    "still requires independent security review."
)
BUTTONS = ["Add a key", "Copy for 20 seconds", "Delete…"]
EMPTY_STORE = "No keys stored here."

UNAVAILABLE_TITLE = "On-device safe unavailable"
UNAVAILABLE_TEXT = (
    "This feature requires the correctly signed, sandboxed Mac app and local device "
    "authentication. It will not fall back to a file or a cloud vault."
)


def check_probe(program=atspi.PROGRAM):
    run = subprocess.run([program, "--check"], capture_output=True, timeout=30)
    return run.returncode, run.stdout


def expect_unavailable(test, program, screenshot=None):
    """The gate's one alert, then the end of the process: no window, one "OK"."""
    with Program(program=program) as run:
        app = run.application()
        alert = atspi.alert(app)
        test.assertEqual([atspi.name(w) for w in atspi.windows(app)], [atspi.name(alert)],
                         "the alert is the program's only window")
        # The alert's icon is a label without text; what it says are the other labels.
        test.assertEqual([t for t in atspi.labels(alert) if t],
                         [UNAVAILABLE_TITLE, UNAVAILABLE_TEXT])
        test.assertEqual(atspi.buttons(alert), ["OK"])
        if screenshot:
            x11.screenshot(screenshot)
        atspi.press(alert, "OK")
        test.assertEqual(run.wait(), 0, run.output())


class MainWindow(unittest.TestCase):
    session = "normal"

    def test_probe_answers_available(self):
        self.assertEqual(check_probe(), (0, b'{"available":true}\n'))

    def test_window_shows_its_texts_in_order_centred_at_a_fixed_size(self):
        with Program() as run:
            app = run.application()
            window = atspi.window(app, TITLE)
            self.assertEqual([atspi.name(w) for w in atspi.windows(app)], [TITLE])
            views = atspi.views(window)
            # The status line is empty until the listing fills it; the store is empty, so
            # once the listing runs at launch it reads EMPTY_STORE.
            self.assertIn(views[-1], [("label", ""), ("label", EMPTY_STORE)])
            self.assertEqual(views[:-1], [
                ("label", HEADING),
                ("label", EXPLANATION),
                ("combo box", ""),
                *[("push button", b) for b in BUTTONS],
                ("label", WARNING),
            ])
            self.assertEqual(atspi.items(atspi.combo_box(window)), [])
            width, height = x11.screen_size()
            self.assertEqual(x11.geometry(x11.window_id(TITLE)),
                             ((width - 570) // 2, (height - 400) // 2, 570, 400), "centred")
            self.assertEqual(x11.size_limits(TITLE), (570, 400, 570, 400), "fixed size")
            x11.screenshot(os.path.join(atspi.OUT, "window.png"), TITLE)

    def test_closing_the_window_ends_the_program(self):
        with Program() as run:
            atspi.window(run.application(), TITLE)
            self.assertTrue(run.running())
            x11.close(TITLE)
            self.assertEqual(run.wait(), 0, run.output())
            self.assertEqual(x11.mapped_windows(), [])

    def test_a_copy_the_user_owns_does_not_open(self):
        # Anyone who can write the program's files could change them: such a copy of the
        # installation must not hand out keys, even with the authority running.
        prefix = os.path.dirname(os.path.dirname(atspi.PROGRAM))
        copy = os.path.join(os.environ["HOME"], "copied-install")
        # The program's own files only: the prefix may be /usr.
        os.makedirs(os.path.join(copy, "bin"))
        shutil.copy2(atspi.PROGRAM, os.path.join(copy, "bin"))
        shutil.copytree(os.path.join(prefix, "lib", "quorlen-safe"),
                        os.path.join(copy, "lib", "quorlen-safe"))
        try:
            program = os.path.join(copy, "bin", os.path.basename(atspi.PROGRAM))
            self.assertEqual(check_probe(program), (0, b'{"available":false}\n'))
            expect_unavailable(self, program)
        finally:
            shutil.rmtree(copy)


class WithoutAuthority(unittest.TestCase):
    session = "without-polkit"

    def test_probe_answers_unavailable(self):
        self.assertEqual(check_probe(), (0, b'{"available":false}\n'))

    def test_shows_the_one_alert_and_ends(self):
        expect_unavailable(self, atspi.PROGRAM, os.path.join(atspi.OUT, "unavailable.png"))


if __name__ == "__main__":
    unittest.main()
