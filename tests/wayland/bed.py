"""A headless GNOME compositor for the Wayland tier, and the programs that run on it.

Bed starts mutter (headless, one virtual monitor, with Xwayland) on a private runtime folder
and opens a RemoteDesktop session, without which the seat has no keyboard or pointer. Every
process it starts is stopped by its process id in stop(). Run inside dbus-run-session.
"""

import glob
import os
import queue
import re
import signal
import subprocess
import tempfile
import threading
import time

import dbus

RD_NAME = "org.gnome.Mutter.RemoteDesktop"
RD_PATH = "/org/gnome/Mutter/RemoteDesktop"
RD_SESSION = "org.gnome.Mutter.RemoteDesktop.Session"
BTN_LEFT = 0x110


class Child:
    """A started program whose standard output is read line by line."""

    def __init__(self, argv, env, stdin=False):
        self.proc = subprocess.Popen(
            argv, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            stdin=subprocess.PIPE if stdin else subprocess.DEVNULL, text=True)
        self.lines = queue.Queue()
        self.seen = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        try:
            for line in self.proc.stdout:
                self.lines.put(line.rstrip("\n"))
        except (OSError, ValueError):
            pass  # closed by stop()
        self.lines.put(None)

    def expect(self, prefix, timeout=10.0):
        """Returns the first unread line that starts with `prefix`; fails after `timeout`."""
        end = time.monotonic() + timeout
        while True:
            left = end - time.monotonic()
            if left <= 0:
                raise AssertionError(f"no {prefix!r} within {timeout} s; saw {self.seen}")
            try:
                line = self.lines.get(timeout=left)
            except queue.Empty:
                continue
            if line is None:
                raise AssertionError(f"ended before {prefix!r}; saw {self.seen}")
            self.seen.append(line)
            if line.startswith(prefix):
                return line

    def drain(self):
        """Moves every line printed so far into `seen`."""
        while True:
            try:
                line = self.lines.get_nowait()
            except queue.Empty:
                return self.seen
            if line is None:
                self.lines.put(None)
                return self.seen
            self.seen.append(line)

    def tell(self, command):
        self.proc.stdin.write(command + "\n")
        self.proc.stdin.flush()

    def stop(self, sig=signal.SIGTERM, timeout=10.0):
        """Sends `sig` to this program's process id and waits; returns its exit status."""
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
            try:
                self.proc.wait(timeout)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        for stream in (self.proc.stdin, self.proc.stdout):
            if stream is not None:
                try:
                    stream.close()
                except OSError:
                    pass
        return self.proc.returncode


class Bed:
    def __init__(self):
        self.work = tempfile.mkdtemp(prefix="quorlen-wayland.")
        self.runtime = os.path.join(self.work, "runtime")
        os.mkdir(self.runtime, 0o700)
        self.name = "quorlen-wayland-%d" % os.getpid()
        self.children = []
        self.mutter = None
        self.display = None
        self.xauthority = None

    def start(self):
        env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime)
        for name in ("WAYLAND_DISPLAY", "DISPLAY", "XAUTHORITY"):
            env.pop(name, None)
        self.log = open(os.path.join(self.work, "mutter.log"), "w+")
        self.mutter = subprocess.Popen(
            ["mutter", "--headless", "--wayland", "--wayland-display=" + self.name,
             "--virtual-monitor", "1280x800"],
            env=env, stdout=self.log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        end = time.monotonic() + 20
        while time.monotonic() < end and self.display is None:
            if self.mutter.poll() is not None:
                raise RuntimeError("mutter ended: " + self._log())
            found = re.search(r"Using public X11 display (:\d+)", self._log())
            if found and os.path.exists(os.path.join(self.runtime, self.name)):
                self.display = found.group(1)
            time.sleep(0.1)
        if self.display is None:
            raise RuntimeError("mutter did not come up: " + self._log())
        auth = glob.glob(os.path.join(self.runtime, ".mutter-Xwaylandauth.*"))
        self.xauthority = auth[0] if auth else None
        bus = dbus.SessionBus()
        for _ in range(100):
            if bus.name_has_owner(RD_NAME):
                break
            time.sleep(0.1)
        path = bus.get_object(RD_NAME, RD_PATH).CreateSession(dbus_interface=RD_NAME)
        self.session = dbus.Interface(bus.get_object(RD_NAME, path), RD_SESSION)
        self.session.Start()
        # The virtual devices come into being with their first event, which is lost: a
        # Shift press and a pointer move that nobody acts on.
        self.key(0xFFE1)
        self.session.NotifyPointerMotionRelative(dbus.Double(1), dbus.Double(1))
        time.sleep(0.5)

    def _log(self):
        self.log.flush()
        self.log.seek(0)
        return self.log.read()

    def stop(self):
        for child in reversed(self.children):
            child.stop(signal.SIGKILL if child.proc.poll() is None else signal.SIGTERM, 5)
        if self.mutter is not None and self.mutter.poll() is None:
            self.mutter.terminate()
            try:
                self.mutter.wait(10)
            except subprocess.TimeoutExpired:
                self.mutter.kill()
                self.mutter.wait()
        if getattr(self, "log", None) is not None:
            self.log.close()
        subprocess.run(["rm", "-rf", self.work], check=False)

    # ---- the session as programs see it ----

    def env(self, x11=True, path=None, **extra):
        """A GNOME Wayland session's environment; with x11, Xwayland's DISPLAY too."""
        env = {
            "PATH": path if path is not None else os.environ["PATH"],
            "HOME": self.work,
            "XDG_RUNTIME_DIR": self.runtime,
            "WAYLAND_DISPLAY": self.name,
            "XDG_SESSION_TYPE": "wayland",
            "XDG_CURRENT_DESKTOP": "GNOME",
            "DBUS_SESSION_BUS_ADDRESS": os.environ["DBUS_SESSION_BUS_ADDRESS"],
        }
        if x11:
            env["DISPLAY"] = self.display
            if self.xauthority:
                env["XAUTHORITY"] = self.xauthority
        env.update(extra)
        return env

    def spawn(self, argv, env, stdin=False):
        child = Child(argv, env, stdin)
        self.children.append(child)
        return child

    # ---- input, as the user gives it ----

    def key(self, keysym):
        self.session.NotifyKeyboardKeysym(dbus.UInt32(keysym), True)
        self.session.NotifyKeyboardKeysym(dbus.UInt32(keysym), False)

    def click(self):
        self.session.NotifyPointerButton(dbus.Int32(BTN_LEFT), True)
        self.session.NotifyPointerButton(dbus.Int32(BTN_LEFT), False)

    # ---- the clipboard, read from outside ----

    def paste(self, *args):
        """Runs wl-paste ARGS; returns (exit status, bytes)."""
        run = subprocess.run(["wl-paste", *args], env=self.env(x11=False),
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=10)
        return run.returncode, run.stdout
