"""The key list at launch, from items already in the session's Secret Service."""

import unittest

import atspi
import flows


class Listing(flows.FlowTest):
    def test_lists_the_stored_keys_in_store_order_and_nothing_else(self):
        # Labels are plain text, whatever they look like.
        labels = ["Work laptop", "<b>not bold</b> & <i>co</i>", "Schlüssel · 🔑 ’quoted’"]
        accounts = [self.store.plant(label, f"secret of key {i}".encode())
                    for i, label in enumerate(labels)]
        # Items the program must not take for its keys, though each differs in one thing.
        self.store.plant("another service", b"x", service="com.quorlen.other.v1")
        self.store.plant("synchronised", b"x", synchronizable="true")
        self.store.plant("not a UUID", b"x", account="not-a-uuid")
        self.store.plant("UUID with a tail", b"x",
                         account="6F0B9E7A-3C1D-4E2F-8A5B-9C0D1E2F3A4BX")

        keys = self.store.keys()
        self.assertEqual(sorted(k.attributes["account"] for k in keys), sorted(accounts))
        # The order the store reports its items in, whichever that is.
        in_store_order = [k.label for k in keys]

        _, _, window = self.launch()
        self.assertEqual(flows.entries(window), in_store_order)
        self.assertEqual(atspi.selected_item(atspi.combo_box(window)), in_store_order[0])
        self.assertEqual(flows.status_line(window), flows.count_text(3))


if __name__ == "__main__":
    unittest.main()
