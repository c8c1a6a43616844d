"""Deleting a key: confirmation, owner authentication, then the store."""

import time
import unittest

import atspi
import flows

DELETE_ACTION = "com.quorlen.safe.delete"
COPY_ACTION = "com.quorlen.safe.copy"
CONFIRM = "Permanently delete this device-only key?"
CONFIRM_TEXT = "This app cannot recover it. Confirm you have another recovery copy."
CANCELLED = "Deletion cancelled."
COPIED = "Copied for 20 seconds. Paste only into the intended trusted app."


class Delete(flows.FlowTest):
    def start_delete(self, app, window, title, answer):
        """Selects title, presses the delete button and answers the confirmation."""
        atspi.select_item(atspi.combo_box(window), title)
        atspi.press(window, flows.DELETE)
        alert = atspi.alert(app)
        self.assertEqual(atspi.name(alert), CONFIRM)
        self.assertEqual([t for t in atspi.labels(alert) if t], [CONFIRM, CONFIRM_TEXT])
        self.assertEqual(atspi.buttons(alert), ["Delete", "Cancel"])
        atspi.press(alert, answer)
        atspi.wait_gone(alert)

    def labels(self):
        return sorted(k.label for k in self.store.keys())

    def test_only_a_confirmed_and_authenticated_delete_removes_the_key(self):
        self.store.plant("keep me", b"kept-secret")
        doomed = self.store.plant("delete me", b"doomed-secret")
        run, app, window = self.launch()
        agent = self.agent(run, "cancel")

        refusals = [
            # (what, confirmation answer, agent answer, status afterwards, asks the agent)
            ("confirmation cancelled", "Cancel", "password", flows.count_text(2), False),
            ("authentication cancelled", "Delete", "cancel", CANCELLED, True),
            ("wrong password", "Delete", "wrong", CANCELLED, True),
        ]
        for what, confirmation, answer, status, asks in refusals:
            with self.subTest(what):
                agent.answer(answer)
                before = len(agent.requests)
                self.start_delete(app, window, "delete me", confirmation)
                if asks:
                    flows.wait_status(window, status)
                    flows.wait_requests(agent, before + 1)
                    self.assertEqual(agent.requests[before:], [DELETE_ACTION])
                else:
                    time.sleep(1)
                    self.assertEqual(flows.status_line(window), status)
                    self.assertEqual(agent.requests[before:], [])
                self.assertEqual([atspi.name(w) for w in atspi.windows(app)], [flows.TITLE])
                self.assertCountEqual(flows.entries(window), ["keep me", "delete me"])
                self.assertEqual(self.labels(), ["delete me", "keep me"])

        agent.answer("password")
        self.start_delete(app, window, "delete me", "Delete")
        flows.wait_status(window, flows.count_text(1))
        self.assertEqual(agent.requests[-1:], [DELETE_ACTION])
        self.assertEqual(flows.entries(window), ["keep me"])
        self.assertEqual(self.labels(), ["keep me"])
        self.assertEqual(self.store.search(account=doomed), [])
        self.assertEqual([atspi.name(w) for w in atspi.windows(app)], [flows.TITLE])

    def test_a_key_gone_elsewhere_is_reported_and_leaves_the_list(self):
        self.store.plant("keep me", b"kept-secret")
        gone = self.store.plant("gone elsewhere", b"gone-secret")
        run, app, window = self.launch()
        agent = self.agent(run, "password")
        for item in self.store.search(account=gone):
            self.store.remove(item)

        self.start_delete(app, window, "gone elsewhere", "Delete")
        alert = atspi.alert(app)
        self.assertEqual(atspi.name(alert), "Not deleted")
        self.assertEqual([t for t in atspi.labels(alert) if t],
                         ["Not deleted", "Keychain refused the deletion (-25300)."])
        atspi.press(alert, "OK")
        atspi.wait_gone(alert)
        flows.wait_status(window, flows.count_text(1))
        self.assertEqual(flows.entries(window), ["keep me"])
        self.assertEqual(agent.requests, [DELETE_ACTION])

    def test_a_delete_takes_a_pending_copy_of_another_key_off_the_clipboard(self):
        self.store.plant("copied", b"copied-secret")
        self.store.plant("deleted", b"deleted-secret")
        run, app, window = self.launch()
        agent = self.agent(run, "password")
        atspi.select_item(atspi.combo_box(window), "copied")
        atspi.press(window, flows.COPY)
        flows.wait_status(window, COPIED)
        self.assertTrue(flows.clipboard_text() == b"copied-secret", "the copy is on the clipboard")

        self.start_delete(app, window, "deleted", "Delete")
        flows.wait_status(window, flows.count_text(1))
        self.assertTrue(flows.clipboard_empty(), "the delete cleared the pending copy")
        self.assertEqual(agent.requests, [COPY_ACTION, DELETE_ACTION])


if __name__ == "__main__":
    unittest.main()
