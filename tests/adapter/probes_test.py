#!/usr/bin/env python3
"""The two probes and the argument list, on the real executable.

Run as root by run-probes.sh, which passes the build tree's program, the program
installed into a root-owned prefix, and the test user's name.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

BUILT = os.environ["QUORLEN_BUILT"]
INSTALLED = os.environ["QUORLEN_INSTALLED"]
USER = os.environ.get("QUORLEN_TEST_USER", "quorlen-test")
SERVICES = os.environ["QUORLEN_SERVICES"]
STATE = os.environ["QUORLEN_STATE"]
POLICY = "/usr/share/polkit-1/actions/com.quorlen.safe.policy"

AVAILABLE = b'{"available":true}\n'
UNAVAILABLE = b'{"available":false}\n'
SIGNED = b'{"signed":true}\n'
UNSIGNED = b'{"signed":false}\n'


def run(program, *args, as_user=True, env=None):
    """Runs the program with a clean environment; as the test user unless told."""
    environment = {"PATH": "/usr/bin:/bin"}
    environment.update(env or {})
    command = ["env", "-i"] + [f"{k}={v}" for k, v in environment.items()] + [program, *args]
    if as_user:
        command = ["runuser", "-u", USER, "--"] + command
    return subprocess.run(command, capture_output=True, timeout=60)


def polkit_knows_action():
    probe = subprocess.run(["pkaction", "--action-id", "com.quorlen.safe.copy"],
                           capture_output=True)
    return probe.returncode == 0


def polkit_answers():
    probe = subprocess.run(
        ["dbus-send", "--system", "--print-reply", "--dest=org.freedesktop.DBus", "/",
         "org.freedesktop.DBus.NameHasOwner", "string:org.freedesktop.PolicyKit1"],
        capture_output=True, text=True)
    return "boolean true" in probe.stdout


def wait_until(condition, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.1)
    return False


class ArgumentList(unittest.TestCase):
    def test_probes_print_exactly_one_line(self):
        for flag, line in (("--check", UNAVAILABLE), ("--check-signature", UNSIGNED)):
            with self.subTest(flag=flag):
                result = run(BUILT, flag, as_user=False)
                self.assertEqual(result.returncode, 0)
                self.assertEqual(result.stdout, line)
                self.assertEqual(result.stderr, b"")

    def test_every_other_list_is_a_usage_error(self):
        cases = [["--check", "x"], ["x", "--check"], ["--CHECK"], ["-check"], ["check"],
                 ["--check=1"], ["--check", "--check-signature"],
                 ["--check-signature", "--check"], ["--check-signature", "extra"], [""],
                 ["--check-signature="], ["--help"]]
        for args in cases:
            with self.subTest(args=args):
                result = run(BUILT, *args, as_user=False)
                self.assertEqual(result.returncode, 64)
                self.assertEqual(result.stdout, b"")
                self.assertEqual(result.stderr, b"")

    def test_an_empty_argument_vector_is_a_usage_error(self):
        # execve with no argv[0] at all (Python's own execve refuses that).
        code = ("import ctypes,os,sys; pid=os.fork()\n"
                "if pid==0:\n"
                "    libc=ctypes.CDLL(None); empty=(ctypes.c_char_p*1)(None)\n"
                "    libc.execve(sys.argv[1].encode(), empty, empty); os._exit(127)\n"
                "_, status = os.waitpid(pid, 0); print(os.waitstatus_to_exitcode(status))")
        result = subprocess.run([sys.executable, "-c", code, BUILT], capture_output=True,
                                text=True, timeout=30)
        self.assertEqual(result.stdout.strip(), "64", result.stderr)


class SelfCheck(unittest.TestCase):
    def test_trusted_installed_build_as_the_test_user(self):
        self.assertEqual(run(INSTALLED, "--check-signature").stdout, SIGNED)

    def test_untrusted_runs(self):
        home = os.path.expanduser(f"~{USER}")
        scratch = tempfile.mkdtemp(prefix="quorlen-probe-", dir=home)
        try:
            shutil.chown(scratch, USER, USER)
            # A library the test user owns, preloaded into the installed program.
            library = os.path.join(scratch, "libpreload.so")
            subprocess.run(["gcc", "-shared", "-fPIC", "-o", library, "-x", "c", "-"],
                           input=b"void quorlen_probe_preload(void) {}\n", check=True)
            shutil.chown(library, USER, USER)
            # The same program in a folder the test user owns.
            own_copy = os.path.join(scratch, "quorlen-safe")
            shutil.copy(INSTALLED, own_copy)
            shutil.chown(own_copy, USER, USER)
            cases = {
                "build tree, as root": (BUILT, {}, False),
                "installed, as root": (INSTALLED, {}, False),
                "installed, user-owned preload": (INSTALLED, {"LD_PRELOAD": library}, True),
                "a copy the user owns": (own_copy, {}, True),
            }
            for name, (program, env, as_user) in cases.items():
                with self.subTest(name):
                    self.assertEqual(run(program, "--check-signature", as_user=as_user,
                                         env=env).stdout, UNSIGNED)
                    self.assertEqual(run(program, "--check", as_user=as_user,
                                         env=env).stdout, UNAVAILABLE)
        finally:
            shutil.rmtree(scratch)


class Availability(unittest.TestCase):
    def test_installed_build_with_the_policy_is_available(self):
        self.assertEqual(run(INSTALLED, "--check").stdout, AVAILABLE)

    def test_the_system_bus_address_variable_is_ignored(self):
        with tempfile.TemporaryDirectory() as folder:
            os.chmod(folder, 0o755)
            for address in ("unix:path=/nonexistent/bus", f"unix:path={folder}/other-bus"):
                with self.subTest(address=address):
                    result = run(INSTALLED, "--check", env={"DBUS_SYSTEM_BUS_ADDRESS": address})
                    self.assertEqual(result.stdout, AVAILABLE)

    def test_without_the_policy_it_is_unavailable(self):
        saved = POLICY + ".away"
        os.rename(POLICY, saved)
        try:
            self.assertTrue(wait_until(lambda: not polkit_knows_action()))
            self.assertEqual(run(INSTALLED, "--check").stdout, UNAVAILABLE)
        finally:
            os.rename(saved, POLICY)
            self.assertTrue(wait_until(polkit_knows_action))

    def test_without_polkitd_it_is_unavailable(self):
        subprocess.run([SERVICES, "stop-polkit", STATE], check=True)
        if polkit_answers():
            subprocess.run([SERVICES, "start", STATE], check=True)
            self.skipTest("polkitd was running before these tests; it is not theirs to stop")
        try:
            self.assertEqual(run(INSTALLED, "--check").stdout, UNAVAILABLE)
        finally:
            subprocess.run([SERVICES, "start", STATE], check=True)
        self.assertEqual(run(INSTALLED, "--check").stdout, AVAILABLE)


if __name__ == "__main__":
    unittest.main(verbosity=2)
