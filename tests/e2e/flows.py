"""What the flow tests set up and look at from outside the program: the Secret Service
store, the clipboard and the scripted polkit agent that answers the program's requests for
owner authentication; and FlowTest, the test case every flow test starts from.

Secrets planted or read here stay in this process's memory and in pipes: none goes to a
file, an argument list or a failure message.
"""

import os
import re
import subprocess
import tempfile
import threading
import unittest
import uuid

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

import atspi  # noqa: E402

SERVICE = "com.quorlen.safe.v1"
SCHEMA = "com.quorlen.safe.v1"
UUID = re.compile(r"^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$")

TITLE = "Quorlen · On-device key safe"
ADD = "Add a key"
COPY = "Copy for 20 seconds"
DELETE = "Delete…"
EMPTY_STORE = "No keys stored here."


def count_text(n):
    return f"{n} device-only key(s). Agents cannot open this safe."


# ---- the Secret Service ----

_SECRETS = "org.freedesktop.secrets"
_SERVICE_PATH = "/org/freedesktop/secrets"
_SERVICE_IFACE = "org.freedesktop.Secret.Service"
_ITEM_IFACE = "org.freedesktop.Secret.Item"
_COLLECTION_IFACE = "org.freedesktop.Secret.Collection"


class Item:
    def __init__(self, path, label, attributes):
        self.path, self.label, self.attributes = path, label, attributes

    def __repr__(self):
        # Labels and attributes are not secret; the secret is never part of an item here.
        return f"Item({self.label!r}, {self.attributes!r})"


class SecretStore:
    """The session's Secret Service, spoken to over D-Bus with a plain session: items
    planted the way the program stores them (or deliberately not), found, read, removed."""

    def __init__(self):
        self.bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        reply = self._call(_SERVICE_PATH, _SERVICE_IFACE, "OpenSession",
                           GLib.Variant("(sv)", ("plain", GLib.Variant("s", ""))), "(vo)")
        self.session = reply[1]

    def _call(self, path, interface, method, parameters, reply_type):
        return self.bus.call_sync(_SECRETS, path, interface, method, parameters,
                                  GLib.VariantType(reply_type), Gio.DBusCallFlags.NONE, 10000,
                                  None).unpack()

    def collection(self):
        (path,) = self._call(_SERVICE_PATH, _SERVICE_IFACE, "ReadAlias",
                             GLib.Variant("(s)", ("default",)), "(o)")
        if path == "/":
            raise AssertionError("the session has no default collection")
        return path

    def plant(self, label, secret, account=None, service=SERVICE, synchronizable="false",
              schema=SCHEMA):
        """Stores one item in the default collection, by default exactly as the program
        stores a key, and returns its account (a fresh upper-case UUID unless given)."""
        if account is None:
            account = str(uuid.uuid4()).upper()
        attributes = {"service": service, "account": account,
                      "synchronizable": synchronizable, "access-control": "1",
                      "protection": "when-unlocked-this-device-only"}
        if schema is not None:
            attributes["xdg:schema"] = schema
        properties = {
            f"{_ITEM_IFACE}.Label": GLib.Variant("s", label),
            f"{_ITEM_IFACE}.Attributes": GLib.Variant("a{ss}", attributes),
        }
        # What the program prints is checked for planted secrets as for typed ones.
        atspi._remember(bytes(secret).decode("utf-8", "replace"))
        value = (self.session, b"", bytes(secret), "application/octet-stream")
        _, prompt = self._call(self.collection(), _COLLECTION_IFACE, "CreateItem",
                               GLib.Variant("(a{sv}(oayays)b)", (properties, value, False)),
                               "(oo)")
        if prompt != "/":
            raise AssertionError("planting an item asked for a prompt: the collection is locked")
        return account

    def search(self, **attributes):
        """The items matching the attributes, in the order the service's SearchItems gives
        them (unlocked ones, then locked ones)."""
        unlocked, locked = self._call(_SERVICE_PATH, _SERVICE_IFACE, "SearchItems",
                                      GLib.Variant("(a{ss})", (attributes,)), "(aoao)")
        found = []
        for path in unlocked + locked:
            props = self._call(path, "org.freedesktop.DBus.Properties", "GetAll",
                               GLib.Variant("(s)", (_ITEM_IFACE,)), "(a{sv})")[0]
            found.append(Item(path, props["Label"], props["Attributes"]))
        return found

    def keys(self):
        """The items that are the program's keys: our schema and service, never
        synchronised, with a UUID account; in the order the service gives them for the
        program's own search, which need not be the order of a narrower or wider one."""
        found = self.search(**{"xdg:schema": SCHEMA, "service": SERVICE,
                               "synchronizable": "false"})
        return [i for i in found if UUID.match(i.attributes.get("account", ""))]

    def secret(self, item):
        """The secret bytes of one item."""
        (secrets,) = self._call(_SERVICE_PATH, _SERVICE_IFACE, "GetSecrets",
                                GLib.Variant("(aoo)", ([item.path], self.session)),
                                "(a{o(oayays)})")
        return bytes(secrets[item.path][2])

    def clear(self):
        """Removes every item of the default collection: each test starts from an empty
        store, as test_launch expects too."""
        path = self.collection()
        props = self._call(path, "org.freedesktop.DBus.Properties", "Get",
                           GLib.Variant("(ss)", (_COLLECTION_IFACE, "Items")), "(v)")[0]
        for path in props:
            self.remove(Item(path, None, None))

    def remove(self, item):
        """Deletes one item from outside, as another program would."""
        (prompt,) = self._call(item.path, _ITEM_IFACE, "Delete", None, "(o)")
        if prompt != "/":
            raise AssertionError("deleting an item asked for a prompt")


# ---- the clipboard ----


def clipboard(target):
    """What the CLIPBOARD selection's owner gives for target, as bytes, or None when nothing
    is offered. Compare it in a test, never show it: it may be a secret."""
    run = subprocess.run(["xclip", "-o", "-selection", "clipboard", "-t", target],
                         capture_output=True, timeout=5)
    return run.stdout if run.returncode == 0 else None


def clipboard_text():
    """The text on the CLIPBOARD selection, as bytes, or None when no text is offered."""
    return clipboard("UTF8_STRING")


def clipboard_targets():
    """The targets the CLIPBOARD selection's owner offers ([] when nobody owns it)."""
    out = clipboard("TARGETS")
    return out.decode().split() if out else []


def clipboard_empty():
    return not clipboard_text()


# ---- the scripted polkit agent ----

AGENT = os.environ.get("QUORLEN_E2E_AGENT", "")


class Agent:
    """quorlen-test-agent registered for one process, answering each request with the word
    in its answers file: password, wrong or cancel. Use as a context manager."""

    def __init__(self, pid, answer):
        if not AGENT or not os.access(AGENT, os.X_OK):
            raise unittest.SkipTest("no scripted polkit agent was built")
        if not atspi.TEST_PASSWORD:
            raise AssertionError("the session gave no test password for the agent")
        fd, self.answers = tempfile.mkstemp(prefix="answers-", dir=atspi.STATE)
        os.close(fd)
        self.answer(answer)
        env = dict(os.environ, QUORLEN_TEST_PASSWORD=atspi.TEST_PASSWORD)
        env.pop("DBUS_SYSTEM_BUS_ADDRESS", None)
        self.process = subprocess.Popen([AGENT, str(pid), self.answers], env=env,
                                        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, text=True)
        # The action id of each request, in order; what else it printed, for failures.
        self.requests = []
        self.other = []
        self._ready = threading.Event()
        threading.Thread(target=self._read, daemon=True).start()
        atspi.wait_for("the agent to register",
                       lambda: self._ready.is_set() or self._ended(), atspi.TIMEOUT)
        if not self._ready.is_set():
            raise AssertionError(f"the agent did not register: {self.other}")

    def _ended(self):
        if self.process.poll() is not None:
            raise atspi.Ended(f"the agent ended: {self.other}")
        return False

    def _read(self):
        for line in self.process.stdout:
            line = line.strip()
            if line == "ready":
                self._ready.set()
            elif line.startswith("request "):
                self.requests.append(line.split(" ", 1)[1])
            else:
                self.other.append(line)

    def answer(self, word):
        with open(self.answers, "w") as f:
            f.write(word + "\n")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
        return False

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        os.unlink(self.answers)


def wait_requests(agent, count, timeout=5):
    """Waits until the agent has printed count requests in all (its output comes late)."""
    atspi.wait_for(f"request {count} at the agent", lambda: len(agent.requests) >= count,
                   timeout)


# ---- the program's window ----


def status_line(window):
    """The status line: the last label of the window in reading order."""
    return atspi.labels(window)[-1]


def wait_status(window, text, timeout=atspi.TIMEOUT):
    atspi.wait_for(f"the status line {text!r}", lambda: status_line(window) == text, timeout)


def entries(window):
    return atspi.items(atspi.combo_box(window))


class FlowTest(unittest.TestCase):
    """Starts and ends every test with an empty store, and starts the program on demand."""

    session = "normal"

    def setUp(self):
        self.store = SecretStore()
        self.store.clear()
        self.addCleanup(self.store.clear)

    def launch(self):
        """Starts the program and returns (run, app, main window) once the listing has
        filled the status line."""
        run = atspi.Program()
        # Cleanups run last first: the output is looked at once the program has ended.
        self.addCleanup(lambda: self.assertFalse(run.printed_typed_text(),
                                                 "the program printed text typed into it"))
        self.addCleanup(run.stop)
        app = run.application()
        window = atspi.window(app, TITLE)
        atspi.wait_for("the listing's status line", lambda: status_line(window))
        return run, app, window

    def agent(self, run, answer):
        agent = Agent(run.pid, answer)
        self.addCleanup(agent.stop)
        return agent
