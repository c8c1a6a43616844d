"""Adding a key through the add dialog, typed as a person types."""

import unittest

import atspi
import flows
from atspi import Atspi

DIALOG = "Add a device-only key"
NAME_FIELD = "Name (not a secret)"
SECRET_FIELD = "Master key or password"
STORE = "Store on this Mac"
NOT_STORED = "Not stored"
LIMITS = "Provide a name up to 120 characters and a key up to 32 KB."
FIELD_ROLES = {Atspi.Role.TEXT, Atspi.Role.ENTRY, Atspi.Role.PASSWORD_TEXT}


def fill_in(app, window, name, secret):
    """Opens the add dialog, types the name and the secret; returns the dialog."""
    atspi.press(window, flows.ADD)
    dialog = atspi.alert(app)
    if atspi.name(dialog) != DIALOG:
        raise AssertionError(f"expected the add dialog, got {atspi.name(dialog)!r}")
    name_field = atspi.find(dialog, {Atspi.Role.TEXT, Atspi.Role.ENTRY}, NAME_FIELD)
    secret_field = atspi.find(dialog, Atspi.Role.PASSWORD_TEXT, SECRET_FIELD)
    if name:
        atspi.type_text(name_field, name)
        atspi.wait_for("the typed name", lambda: atspi.text(name_field) == name, 5)
    if secret:
        atspi.type_text(secret_field, secret)
    # The masked field never tells an accessibility client what it holds.
    if secret and atspi.text(secret_field) == secret:
        raise AssertionError("the masked field shows its text to accessibility clients")
    return dialog


def fields_holding(app, value):
    """The text fields anywhere in the program that hold value."""
    return [f for f in atspi.descendants(app, FIELD_ROLES) if value and atspi.text(f) == value]


class AddKey(flows.FlowTest):
    def test_a_typed_key_is_stored_exactly_and_listed(self):
        self.store.plant("planted first", b"planted")
        # Surrounding spaces belong to the name; the secret is never trimmed either.
        name = "  Recovery · key ’1’ "
        secret = " pä ss wörd € 42 "
        run, app, window = self.launch()
        self.assertEqual(flows.status_line(window), flows.count_text(1))

        dialog = fill_in(app, window, name, secret)
        atspi.press(dialog, STORE)
        atspi.wait_gone(dialog)
        flows.wait_status(window, flows.count_text(2))
        self.assertCountEqual(flows.entries(window), ["planted first", name])

        stored = [k for k in self.store.keys() if k.label == name]
        self.assertEqual(len(stored), 1, self.store.keys())
        item = stored[0]
        self.assertRegex(item.attributes["account"], flows.UUID)
        self.assertEqual(item.attributes["service"], flows.SERVICE)
        self.assertEqual(item.attributes["synchronizable"], "false")
        self.assertTrue(self.store.secret(item) == secret.encode(),
                        "the stored secret differs from the typed one")
        self.assertEqual([atspi.name(w) for w in atspi.windows(app)], [flows.TITLE],
                         "the dialog has gone")
        self.assertEqual(fields_holding(app, secret), [])

        # A second key under the same name is a key of its own.
        dialog = fill_in(app, window, name, "another secret")
        atspi.press(dialog, STORE)
        atspi.wait_gone(dialog)
        flows.wait_status(window, flows.count_text(3))
        self.assertEqual(flows.entries(window).count(name), 2)
        accounts = {k.attributes["account"] for k in self.store.keys() if k.label == name}
        self.assertEqual(len(accounts), 2)

    def test_refused_or_cancelled_entries_store_nothing(self):
        cases = [
            # (what, name, secret, how the dialog ends, alert text or None, stored)
            ("Cancel", "Kept back", "cancel-secret-1", "Cancel", None, False),
            ("Return presses Cancel", "Entered", "return-secret-2", "Return", None, False),
            ("name of 121 characters", "n" * 121, "long-name-secret-3", STORE, LIMITS, False),
            ("119 characters and two spaces", "s" * 119 + "  ", "spaces-secret-4", STORE,
             LIMITS, False),
            ("name of white space only", "   ", "blank-secret-5", STORE, LIMITS, False),
            ("no secret", "No secret", "", STORE, LIMITS, False),
            ("name of exactly 120 characters", "m" * 120, "fits-secret-6", STORE, None, True),
        ]
        run, app, window = self.launch()
        stored = 0
        for what, name, secret, ending, alert_text, accepted in cases:
            with self.subTest(what):
                status_before = flows.status_line(window)
                dialog = fill_in(app, window, name, secret)
                if ending == "Return":
                    atspi.key("Return")
                else:
                    atspi.press(dialog, ending)
                atspi.wait_gone(dialog)
                if alert_text is not None:
                    alert = atspi.alert(app)
                    self.assertEqual(atspi.name(alert), NOT_STORED)
                    self.assertEqual([t for t in atspi.labels(alert) if t],
                                     [NOT_STORED, alert_text])
                    self.assertEqual(atspi.buttons(alert), ["OK"])
                    self.assertEqual(fields_holding(app, secret), [])
                    atspi.press(alert, "OK")
                    atspi.wait_gone(alert)
                if accepted:
                    stored += 1
                    flows.wait_status(window, flows.count_text(stored))
                    self.assertIn(name, flows.entries(window))
                else:
                    self.assertEqual(flows.status_line(window), status_before)
                self.assertEqual(len(self.store.keys()), stored)
                self.assertEqual([atspi.name(w) for w in atspi.windows(app)], [flows.TITLE])
                self.assertEqual(fields_holding(app, secret), [])


if __name__ == "__main__":
    unittest.main()
