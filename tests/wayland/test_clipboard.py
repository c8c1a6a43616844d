"""The clipboard on a GNOME Wayland session, read from outside with wl-paste.

One headless mutter for the whole run. The program (wayland_clipboard_probe) starts with a
GNOME Wayland session's environment and chooses its platform itself; another program
(wayland_focus_window, native Wayland) holds the keyboard focus while the clear happens.
The secret is test data; failures give sizes and types, never the bytes.
"""

import os
import sys
import time
import unittest

from bed import Bed

BUILD = os.environ["QUORLEN_BUILD"]
PROBE = os.path.join(BUILD, "tests", "wayland", "wayland_clipboard_probe")
FOCUS = os.path.join(BUILD, "tests", "wayland", "wayland_focus_window")
# The same test value as in clipboard_probe.cpp.
SECRET = "wayland-probe-\u00e9\u20ac-secret".encode()
OTHER = "the user's own text"
COPIED = "copied Copied for 20 seconds. Paste only into the intended trusted app."
CANNOT = ("copied Copied. This session cannot clear the clipboard: clear it yourself "
          "after pasting.")
MARKERS = (b"text/plain", b"text/plain;charset=utf-8", b"org.nspasteboard.ConcealedType",
           b"org.nspasteboard.TransientType", b"x-kde-passwordManagerHint")
KEY_K, KEY_C = 0x6B, 0x63

bed = None


def setUpModule():
    global bed
    bed = Bed()
    try:
        bed.start()
    except Exception:
        bed.stop()
        raise


def tearDownModule():
    bed.stop()


def state(probe):
    probe.tell("state")
    fields = dict(f.split("=") for f in probe.expect("state ").split()[1:])
    return fields


class ClipboardCase(unittest.TestCase):
    def tearDown(self):
        for child in bed.children:
            child.stop()
        bed.children.clear()

    def assertNoSecret(self, when):
        rc, out = bed.paste("-n")
        self.assertNotEqual(out, SECRET, f"{when}: the secret is on the clipboard")
        self.assertNotIn(SECRET, out, f"{when}: the secret is on the clipboard")

    def start_probe(self, platform, can_clear, **env):
        probe = bed.spawn([PROBE], bed.env(**env), stdin=True)
        self.assertEqual(probe.expect("ready"), f"ready platform={platform} canClear={can_clear}")
        return probe

    def copy(self, probe, status=COPIED):
        """The user presses K in the program's window: the copy is on the clipboard."""
        for _ in range(50):
            if state(probe)["active"] == "1":
                break
            time.sleep(0.1)
        bed.key(KEY_K)
        self.assertEqual(probe.expect("copied"), status)
        rc, types = bed.paste("-l")
        self.assertEqual(rc, 0)
        listed = types.split(b"\n")
        for marker in MARKERS:
            self.assertIn(marker, listed, f"{marker!r} missing from {types!r}")
        rc, out = bed.paste("-n")
        self.assertEqual(rc, 0)
        self.assertTrue(out == SECRET, f"pasted {len(out)} bytes, expected {len(SECRET)}")

    def focus_elsewhere(self, probe):
        """Another program takes the focus and keeps it."""
        other = bed.spawn([FOCUS, OTHER], bed.env(QT_QPA_PLATFORM="wayland"))
        other.expect("focused")
        for _ in range(50):
            if state(probe)["active"] == "0":
                return other
            time.sleep(0.1)
        self.fail("the program kept the focus")

    def assertFocusHeld(self, other):
        """Nothing took the focus from the other program since it got it."""
        seen = other.drain()
        self.assertNotIn("unfocused", seen[seen.index("focused"):], seen)


class XwaylandTest(ClipboardCase):
    """The program finds Xwayland and runs through it: every clear takes."""

    def test_timer_clears_while_another_program_has_focus(self):
        probe = self.start_probe("xcb", 1)
        self.copy(probe)
        copied = time.monotonic()
        other = self.focus_elsewhere(probe)
        probe.expect("cleared", timeout=25)
        elapsed = time.monotonic() - copied
        self.assertGreater(elapsed, 19.0)
        self.assertFocusHeld(other)
        self.assertEqual(state(probe)["active"], "0")
        self.assertNoSecret("20 s after the copy")
        self.assertEqual(probe.stop(), 0)
        time.sleep(0.5)  # mutter would republish a copy it kept once the owner has gone
        self.assertNoSecret("after the program exited")

    def test_another_programs_copy_survives_both_clears(self):
        probe = self.start_probe("xcb", 1)
        self.copy(probe)
        other = self.focus_elsewhere(probe)
        bed.key(KEY_C)
        other.expect("copied")
        # The program never says "still ours" once another program has copied.
        for _ in range(50):
            fields = state(probe)
            if fields["ours"] == "0":
                break
            time.sleep(0.1)
        self.assertEqual(fields["ours"], "0")
        self.assertNotEqual(fields["count"], fields["recorded"])
        probe.tell("clear")  # a delete attempt
        probe.expect("cleared")
        self.assertEqual(bed.paste("-n"), (0, OTHER.encode()))
        self.assertEqual(probe.stop(), 0)
        time.sleep(0.5)
        self.assertEqual(bed.paste("-n"), (0, OTHER.encode()))

    def test_sigterm_clears(self):
        probe = self.start_probe("xcb", 1)
        self.copy(probe)
        other = self.focus_elsewhere(probe)
        self.assertEqual(probe.stop(), 0)
        self.assertIn("exited", probe.seen + [probe.expect("exited")])
        self.assertFocusHeld(other)
        time.sleep(0.5)
        self.assertNoSecret("after SIGTERM")


class NativeWaylandTest(ClipboardCase):
    """No X display for the program: it stays on Wayland and clears with wl-copy if it can."""

    def test_wl_copy_clears_while_another_program_has_focus(self):
        probe = self.start_probe("wayland", 1, x11=False)
        self.copy(probe)
        self.focus_elsewhere(probe)
        probe.tell("clear")
        probe.expect("cleared")
        self.assertEqual(state(probe)["ours"], "0")
        self.assertNoSecret("after the clear")
        self.assertEqual(probe.stop(), 0)
        time.sleep(0.5)
        self.assertNoSecret("after the program exited")

    def test_another_programs_copy_is_not_cleared_by_wl_copy(self):
        probe = self.start_probe("wayland", 1, x11=False)
        self.copy(probe)
        self.focus_elsewhere(probe)
        bed.key(KEY_C)
        for _ in range(50):
            fields = state(probe)
            if fields["ours"] == "0":
                break
            time.sleep(0.1)
        self.assertEqual(fields["ours"], "0")
        probe.tell("clear")
        probe.expect("cleared")
        self.assertEqual(bed.paste("-n"), (0, OTHER.encode()))

    def test_without_wl_copy_the_status_line_says_it_cannot_clear(self):
        probe = self.start_probe("wayland", 0, x11=False, path="/nonexistent")
        self.copy(probe, status=CANNOT)


if __name__ == "__main__":
    unittest.main(verbosity=2)
