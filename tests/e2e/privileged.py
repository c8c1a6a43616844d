#!/usr/bin/env python3
"""The two things a session test cannot do as the test user, done by root beside it.

The program makes itself undumpable at its start, after which no process of the test user
may read its memory, not even a tracer that started it: strace then prints no path and no
address, and gcore cannot attach. So

    privileged.py BUILD_DIR [NAME_PATTERN]        (as root; default pattern: test_traces)

serves two requests on a Unix socket that only the test user may reach, and runs the
session tests matching the pattern through harness.sh, which finds the socket in
$QUORLEN_E2E_OUT:

  trace  starts the installed program as the test user under a root strace (file and
         socket calls only, no string contents) with the session's environment and the
         caller's output file; answers its pid, then the trace log's text once it ends.
  image  takes a memory image of the installed program's process, searches it for a
         secret and deletes it (memory_image.py); answers counts and places only.

Tests reach it through the client functions below and skip when it is not there. The
secret of an image request travels only through the socket. Nothing else is served.
"""

import array
import json
import os
import pwd
import socket
import subprocess
import sys
import tempfile
import threading

HERE = os.path.dirname(os.path.abspath(__file__))
SOCKET_NAME = "privileged.sock"
TRACE_ARGS = ["-f", "-qq", "-y", "-s", "0", "-e", "abbrev=all", "-e", "signal=none"]
# Variables of the session the traced program gets; nothing else of the caller's.
SESSION_VARIABLES = [
    "PATH", "LANG", "USER", "LOGNAME", "HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME",
    "XDG_DATA_HOME", "XDG_CACHE_HOME", "GSETTINGS_BACKEND", "QT_QPA_PLATFORM",
    "QT_ACCESSIBILITY", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "XAUTHORITY", "DISPLAY",
    "DBUS_SESSION_BUS_ADDRESS", "QUORLEN_E2E_SESSION",
]


# ---- the client, in the session ----


def _path():
    out = os.environ.get("QUORLEN_E2E_OUT")
    return os.path.join(out, SOCKET_NAME) if out else None


def available():
    path = _path()
    return path is not None and os.path.exists(path)


def _send(conn, message, fds=()):
    data = (json.dumps(message) + "\n").encode()
    if fds:
        socket.send_fds(conn, [data], list(fds))
    else:
        conn.sendall(data)


def _receive(conn, reader):
    line = reader.readline()
    if not line:
        raise ConnectionError("the privileged helper hung up")
    reply = json.loads(line)
    if "error" in reply:
        raise AssertionError(f"privileged helper: {reply['error']}")
    return reply


class TracedRun:
    """One run of the program under the root strace. `pid` is the program's; `end()`
    waits for the end of the run."""

    def __init__(self, output_fd, trace):
        self._conn = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self._conn.connect(_path())
        self._reader = self._conn.makefile("r")
        env = {k: os.environ[k] for k in SESSION_VARIABLES if k in os.environ}
        _send(self._conn, {"op": "trace", "env": env, "trace": trace}, [output_fd])
        self.pid = _receive(self._conn, self._reader)["pid"]

    def end(self):
        """Waits for the program's end; returns (exit status, the trace's text)."""
        try:
            reply = _receive(self._conn, self._reader)
            return reply["status"], reply["log"]
        finally:
            self._reader.close()
            self._conn.close()


def memory_image(pid, secret):
    """The copies of secret in the program's memory (see memory_image.search)."""
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as conn:
        conn.connect(_path())
        with conn.makefile("r") as reader:
            _send(conn, {"op": "image", "pid": pid, "secret": secret})
            return _receive(conn, reader)["hits"]


# ---- the helper, as root ----


def _receive_fds(conn):
    """One request line and the descriptors sent with it."""
    fds = array.array("i")
    data = b""
    while not data.endswith(b"\n"):
        chunk, ancillary, _, _ = conn.recvmsg(65536, socket.CMSG_SPACE(4 * 4))
        if not chunk:
            raise ConnectionError("the client hung up")
        data += chunk
        for level, kind, payload in ancillary:
            if level == socket.SOL_SOCKET and kind == socket.SCM_RIGHTS:
                fds.frombytes(payload[: len(payload) - len(payload) % fds.itemsize])
    return json.loads(data), list(fds)


class Helper:
    def __init__(self, folder, user, program):
        self.user = pwd.getpwnam(user)
        self.program = program
        self.private = tempfile.mkdtemp(prefix="quorlen-privileged-")
        os.chmod(self.private, 0o700)
        self.path = os.path.join(folder, SOCKET_NAME)
        self.server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.server.bind(self.path)
        os.chown(self.path, self.user.pw_uid, self.user.pw_gid)
        os.chmod(self.path, 0o600)
        self.server.listen(4)
        threading.Thread(target=self._serve, daemon=True).start()

    def close(self):
        self.server.close()
        for name in os.listdir(self.private):
            os.unlink(os.path.join(self.private, name))
        os.rmdir(self.private)

    def _serve(self):
        while True:
            try:
                conn, _ = self.server.accept()
            except OSError:
                return
            threading.Thread(target=self._handle, args=(conn,), daemon=True).start()

    def _handle(self, conn):
        fds = []
        try:
            request, fds = _receive_fds(conn)
            if request.get("op") == "trace" and len(fds) == 1:
                self._trace(conn, request, fds[0])
            elif request.get("op") == "image":
                self._image(conn, request)
            else:
                _send(conn, {"error": "unknown request"})
        except Exception as error:  # noqa: BLE001 - the client sees the reason
            try:
                _send(conn, {"error": f"{type(error).__name__}: {error}"})
            except OSError:
                pass
        finally:
            for fd in fds:
                os.close(fd)
            conn.close()

    def _is_program(self, pid):
        info = os.stat(f"/proc/{pid}")
        return info.st_uid == self.user.pw_uid and \
            os.readlink(f"/proc/{pid}/exe") == os.path.realpath(self.program)

    def _trace(self, conn, request, output):
        env = {k: v for k, v in request["env"].items() if k in SESSION_VARIABLES}
        trace = request["trace"]
        if not all(c.isalnum() or c in "%_,-" for c in trace):
            raise ValueError("bad trace set")
        log = tempfile.mktemp(prefix="trace-", suffix=".log", dir=self.private)
        strace = subprocess.Popen(
            ["strace", *TRACE_ARGS, "-e", f"trace={trace}", "-o", log, "-u", self.user.pw_name,
             self.program], env=env, stdin=subprocess.DEVNULL, stdout=output, stderr=output,
            cwd="/")
        try:
            pid = None
            for _ in range(500):
                with open(f"/proc/{strace.pid}/task/{strace.pid}/children") as f:
                    kids = f.read().split()
                if kids:
                    pid = int(kids[0])
                    break
                if strace.poll() is not None:
                    break
                threading.Event().wait(0.02)
            if pid is None:
                raise RuntimeError("the program did not start under strace")
            _send(conn, {"pid": pid})
            strace.wait()
            with open(log, encoding="utf-8", errors="replace") as f:
                text = f.read()
            _send(conn, {"log": text, "status": strace.returncode})
        finally:
            if strace.poll() is None:
                strace.kill()
                strace.wait()
            if os.path.exists(log):
                os.unlink(log)

    def _image(self, conn, request):
        import memory_image

        pid = int(request["pid"])
        if not self._is_program(pid):
            raise PermissionError("not the installed program of the test user")
        _send(conn, {"hits": memory_image.search(pid, request["secret"])})


def main():
    if os.geteuid() != 0:
        print("privileged.py: must run as root", file=sys.stderr)
        return 2
    if len(sys.argv) < 2:
        print("usage: privileged.py BUILD_DIR [NAME_PATTERN]", file=sys.stderr)
        return 2
    build = sys.argv[1]
    pattern = sys.argv[2] if len(sys.argv) > 2 else "test_traces"
    sys.path.insert(0, HERE)
    subprocess.run([os.path.join(HERE, "..", "support", "deps.sh")], check=True)
    subprocess.run([os.path.join(HERE, "..", "support", "test-user.sh")], check=True)
    # As harness.sh: a package under test is installed into /usr.
    prefix = ("/usr" if os.environ.get("QUORLEN_E2E_PACKAGE")
              else os.environ.get("QUORLEN_E2E_PREFIX", "/opt/quorlen-e2e"))
    user = os.environ.get("QUORLEN_TEST_USER", "quorlen-test")
    out = tempfile.mkdtemp(prefix="quorlen-e2e-privileged-")
    os.chmod(out, 0o711)
    uid = pwd.getpwnam(user)
    os.chown(out, uid.pw_uid, uid.pw_gid)
    helper = Helper(out, user, os.path.join(prefix, "bin", "quorlen-safe"))
    results = os.path.join(out, "results")
    try:
        status = subprocess.run(
            [os.path.join(HERE, "harness.sh"), build, "--", "/usr/bin/python3",
             os.path.join(HERE, "runner.py"), "--session", "normal", "--results", results,
             pattern], env=dict(os.environ, QUORLEN_E2E_OUT=out)).returncode
        if os.path.exists(results):
            with open(results) as f:
                passed, failed = f.read().split()
            print(f"privileged e2e: {passed} passed, {failed} failed")
        return status
    finally:
        helper.close()
        subprocess.run(["rm", "-rf", out])


if __name__ == "__main__":
    sys.exit(main())
