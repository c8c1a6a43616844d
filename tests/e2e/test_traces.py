"""What the program leaves behind outside its own memory while a key is added, copied,
cleared from the clipboard and deleted: the files it writes and the sockets it opens, read
from a system-call trace of the whole run.

The trace records file and socket calls only, with no string contents (-s 0): the calls
that carry data (read, write, sendmsg, recvmsg) are not traced at all, so nothing typed or
copied can reach the log. The log stays in the session's private state, is checked for the
test secret after the run and is deleted with the test.
"""

import os
import re
import secrets
import signal
import tempfile
import unittest

import atspi
import flows
import privileged
import x11
from test_add import STORE, fill_in
from test_delete import CONFIRM

COPIED = "Copied for 20 seconds. Paste only into the intended trusted app."

# File calls, the socket calls that name an address, and memfd_create, which makes a file
# that lives only in memory. No call that carries data is here.
TRACED = "%file,socket,socketpair,connect,bind,listen,accept,accept4,memfd_create"

WRITE_FLAGS = {"O_WRONLY", "O_RDWR", "O_CREAT", "O_TRUNC", "O_APPEND", "O_TMPFILE"}
OPEN_CALLS = {"open", "openat", "openat2"}
# Calls that change the file system whatever their flags.
CHANGING_CALLS = {
    "creat", "rename", "renameat", "renameat2", "link", "linkat", "symlink", "symlinkat",
    "unlink", "unlinkat", "rmdir", "mkdir", "mkdirat", "mknod", "mknodat", "truncate",
    "chmod", "fchmodat", "chown", "lchown", "fchownat", "utime", "utimes", "utimensat",
    "futimesat", "setxattr", "lsetxattr", "removexattr", "lremovexattr",
}
# Pseudo file systems: nothing written there is kept on a disk. /dev/shm is a real,
# shared tmpfs and counts as a file.
PSEUDO = ("/proc/", "/dev/")
SHARED_MEMORY = "/dev/shm/"

_LINE = re.compile(r"^(\d+)\s+(.*)$")
_RESUMED = re.compile(r"^<\.\.\. (\w+) resumed>(.*)$")
_CALL = re.compile(r"^(\w+)\((.*)\)\s+=\s+(-?\w+)")
_QUOTED = re.compile(r'"((?:[^"\\]|\\.)*)"')
_FD_PATH = re.compile(r"^(-?\d+|AT_FDCWD)(?:<([^>]*)>)?$")


class Call:
    def __init__(self, pid, name, args, result):
        self.pid, self.name, self.args, self.result = pid, name, args, result

    @property
    def succeeded(self):
        return not self.result.startswith("-")

    def __repr__(self):
        return f"{self.name}({self.args}) = {self.result}"


def read_trace(lines):
    """The completed calls of an `strace -f -y` log, unfinished calls joined to their ends."""
    calls, pending = [], {}
    for line in lines:
        m = _LINE.match(line.rstrip("\n"))
        if not m:
            continue
        pid, body = int(m.group(1)), m.group(2)
        if body.endswith("<unfinished ...>"):
            pending[pid] = body[: -len("<unfinished ...>")].rstrip()
            continue
        resumed = _RESUMED.match(body)
        if resumed:
            body = pending.pop(pid, resumed.group(1) + "(") + resumed.group(2)
        call = _CALL.match(body)
        if call:
            calls.append(Call(pid, call.group(1), call.group(2), call.group(3)))
    return calls


def _split_args(args):
    """Top-level comma-separated arguments, braces, brackets and quotes kept together."""
    out, depth, current, quoted, escaped = [], 0, "", False, False
    for ch in args:
        if quoted:
            current += ch
            if escaped:
                escaped = False
            elif ch == "\\":
                escaped = True
            elif ch == '"':
                quoted = False
            continue
        if ch == '"':
            quoted = True
        elif ch in "{[(":
            depth += 1
        elif ch in "}])":
            depth -= 1
        elif ch == "," and depth == 0:
            out.append(current.strip())
            current = ""
            continue
        current += ch
    if current.strip():
        out.append(current.strip())
    return out


def _unquote(text):
    m = _QUOTED.search(text)
    return bytes(m.group(1), "utf-8").decode("unicode_escape") if m else None


def paths_of(call):
    """The paths a file call names, each resolved against its directory argument."""
    args = _split_args(call.args)
    found, directory = [], None
    for arg in args:
        fd = _FD_PATH.match(arg)
        if fd:
            directory = fd.group(2)
            continue
        path = _unquote(arg) if arg.startswith('"') else None
        if path is None:
            continue
        if not path.startswith("/") and directory:
            path = directory.rstrip("/") + "/" + path
        found.append(path)
        directory = None
    return found


def writes(calls, succeeded=True):
    """(call name, path) of each successful (or each failed) call that made or changed a
    file."""
    found = []
    for call in calls:
        if call.succeeded != succeeded:
            continue
        if call.name in OPEN_CALLS:
            flags = set(re.findall(r"\bO_[A-Z]+\b", call.args))
            if not flags & WRITE_FLAGS:
                continue
            found.extend((call.name, p) for p in paths_of(call)[:1])
        elif call.name in CHANGING_CALLS:
            found.extend((call.name, p) for p in paths_of(call))
        elif call.name == "memfd_create":
            found.append((call.name, "memfd:" + (paths_of(call) or ["?"])[0]))
    return found


def on_disk(path):
    if path.startswith("memfd:"):
        return False
    return path.startswith(SHARED_MEMORY) or not path.startswith(PSEUDO)


def socket_families(calls):
    return [re.match(r"\s*(\w+)", c.args).group(1) for c in calls
            if c.name in ("socket", "socketpair") and c.succeeded]


def connected_to(calls):
    """The addresses of each successful connect(): a unix path ('@' first when abstract),
    or the family's name for anything else."""
    found = []
    for call in calls:
        if call.name != "connect" or not call.succeeded:
            continue
        unix = re.search(r'sun_path=(@?)"((?:[^"\\]|\\.)*)"', call.args)
        if unix:
            found.append(unix.group(1) + unix.group(2))
        else:
            family = re.search(r"sa_family=(\w+)", call.args)
            found.append(family.group(1) if family else call.args)
    return found


def bus_path(address):
    """The socket of a D-Bus address (unix:path=... or unix:abstract=...)."""
    for part in address.split(";"):
        if not part.startswith("unix:"):
            continue
        for kv in part[5:].split(","):
            key, _, value = kv.partition("=")
            if key == "path":
                return value
            if key == "abstract":
                return "@" + value
    return None


def accessibility_bus():
    from gi.repository import Gio, GLib

    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    (address,) = bus.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress",
                               None, GLib.VariantType("(s)"), Gio.DBusCallFlags.NONE, 5000,
                               None).unpack()
    return bus_path(address)


def allowed_sockets():
    display = os.environ["DISPLAY"].lstrip(":").split(".")[0]
    x = f"/tmp/.X11-unix/X{display}"
    return {
        bus_path(os.environ["DBUS_SESSION_BUS_ADDRESS"]): "session bus",
        "/run/dbus/system_bus_socket": "system bus",
        "/var/run/dbus/system_bus_socket": "system bus",
        accessibility_bus(): "accessibility bus",
        x: "X server",
        "@" + x: "X server",
    }


class _Ended:
    """Stands for a process this test did not start: poll() says whether it still runs."""

    def __init__(self, pid):
        self.pid, self.returncode = pid, None

    def poll(self):
        try:
            with open(f"/proc/{self.pid}/stat") as f:
                state = f.read().rsplit(")", 1)[1].split()[0]
        except FileNotFoundError:
            state = "X"
        if state in ("Z", "X") and self.returncode is None:
            self.returncode = "ended"
        return self.returncode


class TracedProgram(atspi.Program):
    """The installed program started as the test user under root's strace, which traces it
    from its first instruction and, unlike a tracer of the test user's, still reads its
    calls' arguments once it has made itself undumpable."""

    def __init__(self):
        fd, self.output_path = tempfile.mkstemp(prefix="program-", suffix=".log",
                                                dir=atspi.STATE)
        try:
            self.run = privileged.TracedRun(fd, TRACED)
        finally:
            os.close(fd)
        self.args = [atspi.PROGRAM]
        self.pid = self.run.pid
        self.process = _Ended(self.pid)
        self.status = self.log = None

    def wait(self, timeout=atspi.TIMEOUT):
        atspi.wait_for("the traced program to end", lambda: not self.running(), timeout)
        return self.end()[0]

    def end(self):
        if self.log is None:
            self.status, self.log = self.run.end()
        return self.status, self.log

    def stop(self):
        if self.running():
            os.kill(self.pid, signal.SIGTERM)
            try:
                atspi.wait_for("the traced program to end", lambda: not self.running(), 5)
            except atspi.Timeout:
                os.kill(self.pid, signal.SIGKILL)
        self.end()


def needs_helper(test):
    if not privileged.available():
        test.skipTest("needs root beside the session: run tests/e2e/privileged.py BUILD_DIR")


class Traces(flows.FlowTest):
    def setUp(self):
        super().setUp()
        needs_helper(self)

    def run_flows(self, secret):
        """Add, copy, the clipboard's clearing and delete, under strace; ends the program by
        closing its window. Returns the calls the trace recorded."""
        run = TracedProgram()
        self.addCleanup(lambda: self.assertFalse(run.printed_typed_text(),
                                                 "the program printed text typed into it"))
        self.addCleanup(run.stop)
        app = run.application()
        window = atspi.window(app, flows.TITLE)
        atspi.wait_for("the listing", lambda: flows.status_line(window) == flows.EMPTY_STORE)
        agent = self.agent(run, "password")

        dialog = fill_in(app, window, "traced key", secret)
        atspi.press(dialog, STORE)
        atspi.wait_gone(dialog)
        flows.wait_status(window, flows.count_text(1))

        atspi.press(window, flows.COPY)
        flows.wait_status(window, COPIED)
        self.assertTrue(flows.clipboard_text() == secret.encode(), "the copy reached the clipboard")
        atspi.wait_for("the clipboard to be cleared", flows.clipboard_empty, 30, 0.25)

        atspi.press(window, flows.DELETE)
        alert = atspi.alert(app)
        self.assertEqual(atspi.name(alert), CONFIRM)
        atspi.press(alert, "Delete")
        atspi.wait_gone(alert)
        flows.wait_status(window, flows.EMPTY_STORE)
        self.assertEqual(self.store.keys(), [])

        x11.close(flows.TITLE)
        self.assertEqual(run.wait(), 0, run.output())
        return run.log

    def test_a_session_writes_no_file_and_speaks_only_to_the_buses_and_the_display(self):
        secret = "trace-" + secrets.token_hex(10)
        log = self.run_flows(secret)
        # The log never reached a file of the session: root's copy is already deleted.
        if secret in log or secret.encode("utf-16-le").decode("latin-1") in log:
            self.fail("the trace log recorded the secret")
        calls = read_trace(log.splitlines())
        undecoded = [c for c in calls if c.name in ("connect", "open", "openat")
                     and re.match(r"^[^,]*, 0x[0-9a-f]+", c.args)]
        self.assertEqual(undecoded, [], "calls whose arguments the trace could not read")
        self.assertTrue(any(p.endswith("/libquorlen-window.so") for c in calls
                            for p in paths_of(c) if c.name in OPEN_CALLS and c.succeeded),
                        "the trace shows the program opening its own window module")
        self.assertTrue(any(c.name == "connect" for c in calls),
                        "the trace saw the program's calls")

        written = writes(calls)
        shown = sorted({f"{name} {path}" for name, path in written})
        print(f"\n  files written: {len(shown)}", *shown, sep="\n    ")
        self.assertEqual([w for w in shown if on_disk(w.split(" ", 1)[1])], [],
                         "files the program made or changed")
        tried = sorted({f"{name} {path}" for name, path in writes(calls, succeeded=False)})
        print(f"  refused attempts: {len(tried)}", *tried, sep="\n    ")

        families = socket_families(calls)
        print(f"  socket families: {sorted(set(families))}")
        self.assertEqual([f for f in families if f in ("AF_INET", "AF_INET6")], [],
                         "network sockets")

        allowed = allowed_sockets()
        peers = connected_to(calls)
        print("  connected to:", *sorted({f"{p} ({allowed.get(p, '?')})" for p in peers}),
              sep="\n    ")
        self.assertEqual(sorted({p for p in peers if p not in allowed}), [],
                         "connections other than the buses and the display")


# Where a copy may be and still be the program's own: none. Its secret buffers are
# released at the end of each flow, and a string of its own holding the secret would be a
# malloc block of its own.
OWN_PLACES = ("secret pages",)
OWN_SHAPES = ("malloc block of its own",)


def describe(hits):
    lines = []
    for h in hits:
        near = ", ".join(h["near"]) or "-"
        lines.append(f"{h['form']:<26} {h['address']:>16}  {h['mapping']}  [{h['shape']}]"
                     f"  near: {near}")
    return lines


class MemoryImage(flows.FlowTest):
    """Where the typed secret is in the program's memory after an add, and after a copy of
    it has been cleared from the clipboard: never in memory the program itself owns."""

    def setUp(self):
        super().setUp()
        needs_helper(self)

    def image(self, run, secret, when):
        hits = privileged.memory_image(run.pid, secret)
        whole = [h for h in hits if "tail" not in h["form"]]
        print(f"\n  {when}: {len(whole)} whole copies, {len(hits) - len(whole)} freed tails",
              *describe(hits), sep="\n    ")
        own = [h for h in hits
               if h["source"] in OWN_PLACES or any(h["shape"].startswith(s) for s in OWN_SHAPES)]
        self.assertEqual(describe(own), [], f"copies in the program's own memory {when}")
        return hits

    def test_no_copy_of_a_secret_stays_in_the_programs_own_memory(self):
        secret = "mem" + secrets.token_hex(20)
        run, app, window = self.launch()
        agent = self.agent(run, "password")

        dialog = fill_in(app, window, "imaged key", secret)
        atspi.press(dialog, STORE)
        atspi.wait_gone(dialog)
        flows.wait_status(window, flows.count_text(1))
        self.image(run, secret, "after the add")

        atspi.press(window, flows.COPY)
        flows.wait_status(window, COPIED)
        self.assertTrue(flows.clipboard_text() == secret.encode(), "the copy reached the clipboard")
        atspi.wait_for("the clipboard to be cleared", flows.clipboard_empty, 30, 0.25)
        self.image(run, secret, "after the copy was cleared")
        self.assertEqual(agent.requests, ["com.quorlen.safe.copy"])


if __name__ == "__main__":
    unittest.main()
