"""Copying a key to the clipboard after owner authentication, and the copy's clearing."""

import os
import signal
import subprocess
import time
import unittest

import atspi
import flows
import x11

COPY_ACTION = "com.quorlen.safe.copy"
COPIED = "Copied for 20 seconds. Paste only into the intended trusted app."
MARKERS = ["org.nspasteboard.ConcealedType", "org.nspasteboard.TransientType",
           "x-kde-passwordManagerHint"]


def not_copied(status):
    return f"Not copied. Local authentication or protected access was declined ({status})."


class Copy(flows.FlowTest):
    def setUp(self):
        super().setUp()
        # A clipboard manager on the display, as on a desktop: what a program leaves it at
        # its end outlives the program.
        self.manager = x11.ClipboardManager()
        self.addCleanup(self.manager.stop)

    def copy(self, window, agent, title, status):
        atspi.select_item(atspi.combo_box(window), title)
        before = len(agent.requests)
        atspi.press(window, flows.COPY)
        flows.wait_status(window, status)
        flows.wait_requests(agent, before + 1)
        self.assertEqual(agent.requests[before:], [COPY_ACTION], "one request per copy")

    def assertClipboardHolds(self, secret, why):
        # Compared here, never shown: a failure must not print the secret.
        self.assertTrue(flows.clipboard_text() == secret.encode(), why)

    def test_a_copy_lasts_20_seconds_and_refused_copies_leave_it_alone(self):
        secret = "cöpy me ✓ 42 "
        self.store.plant("first", secret.encode())
        self.store.plant("second", b"the other key")
        run, app, window = self.launch()
        agent = self.agent(run, "password")

        self.copy(window, agent, "first", COPIED)
        copied_at = time.monotonic()
        self.assertClipboardHolds(secret, "the clipboard holds the stored secret")
        targets = flows.clipboard_targets()
        for target in MARKERS:
            self.assertIn(target, targets)
        self.assertTrue(flows.clipboard("x-kde-passwordManagerHint") == b"secret",
                        "the password manager hint says secret")

        for answer, status in [("cancel", -128), ("wrong", -25293)]:
            with self.subTest(answer):
                agent.answer(answer)
                self.copy(window, agent, "second", not_copied(status))
                self.assertClipboardHolds(secret, "a refused copy leaves the clipboard alone")

        atspi.wait_for("the clipboard to be cleared", flows.clipboard_empty, 30, 0.25)
        elapsed = time.monotonic() - copied_at
        self.assertGreater(elapsed, 18.5, "cleared early")
        self.assertLess(elapsed, 23.0, "cleared late")
        # Clearing writes no status of its own.
        self.assertEqual(flows.status_line(window), not_copied(-25293))
        self.assertTrue(run.running())

    def test_ending_the_program_during_a_copy_takes_it_off_the_clipboard(self):
        secret = "terminated-secret"
        self.store.plant("only key", secret.encode())
        run, app, window = self.launch()
        agent = self.agent(run, "password")
        self.copy(window, agent, "only key", COPIED)
        self.assertClipboardHolds(secret, "the copy is on the clipboard")

        os.kill(run.pid, signal.SIGTERM)
        run.wait(10)
        self.assertTrue(flows.clipboard_empty(), "the clipboard is empty after the end")
        self.assertFalse(self.manager.saved == secret.encode(),
                         "the program handed the secret to the clipboard manager")

    def test_the_users_own_later_copy_is_left_alone(self):
        self.store.plant("only key", b"replaced-secret")
        run, app, window = self.launch()
        agent = self.agent(run, "password")
        self.copy(window, agent, "only key", COPIED)
        copied_at = time.monotonic()

        # Another program takes the clipboard with something of the user's.
        mine = subprocess.Popen(["xclip", "-i", "-selection", "clipboard", "-quiet"],
                                stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (mine.terminate(), mine.wait()))
        mine.stdin.write(b"the user's own text")
        mine.stdin.close()
        atspi.wait_for("the user's text on the clipboard",
                       lambda: flows.clipboard_text() == b"the user's own text", 5)

        time.sleep(max(0.0, copied_at + 22 - time.monotonic()))
        self.assertTrue(flows.clipboard_text() == b"the user's own text",
                        "the clipboard still holds the user's text after the copy's time")

    def test_a_stored_secret_that_is_not_utf8_is_not_copied(self):
        self.store.plant("binary", b"\xff\xfe\x00 not text")
        run, app, window = self.launch()
        agent = self.agent(run, "password")
        atspi.press(window, flows.COPY)
        flows.wait_requests(agent, 1, atspi.TIMEOUT)
        time.sleep(1)
        self.assertEqual(flows.status_line(window), flows.count_text(1))
        self.assertEqual(flows.clipboard_targets(), [])


class WithoutAnAgent(flows.FlowTest):
    def test_a_copy_that_no_agent_can_ask_for_is_refused(self):
        self.store.plant("only key", b"never-copied")
        run, app, window = self.launch()
        atspi.press(window, flows.COPY)
        flows.wait_status(window, not_copied(-25308))
        self.assertEqual(flows.clipboard_targets(), [])


class NothingToAct(flows.FlowTest):
    def test_with_no_keys_copy_and_delete_do_nothing(self):
        run, app, window = self.launch()
        agent = self.agent(run, "password")
        for button in (flows.COPY, flows.DELETE):
            with self.subTest(button):
                atspi.press(window, button)
                time.sleep(1)
                self.assertEqual([atspi.name(w) for w in atspi.windows(app)], [flows.TITLE])
                self.assertEqual(flows.status_line(window), flows.EMPTY_STORE)
        self.assertEqual(agent.requests, [])


if __name__ == "__main__":
    unittest.main()
