"""The session side of bench/launch (run there, never on its own): starts each program
afresh, waits for the X server to map its main window and reads its resident memory.

Time is from just before the exec to the MapNotify of the program's first top-level
window with the expected title, seen by a client watching the root window. Memory is
VmRSS from /proc/PID/status at that moment, and again one second later once start-up work
queued behind the first frame has run. Each run of each program starts from an empty
configuration: KeePassXC gets a fresh HOME and XDG folders each time.
"""

import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

from Xlib import X, display

RUNS = int(os.environ.get("QUORLEN_BENCH_RUNS", "5"))
OURS = os.environ["QUORLEN_E2E_PROGRAM"]
TARGET = 0.5
TIMEOUT = 60


def _title(d, win):
    for atom, kind in (("_NET_WM_NAME", "UTF8_STRING"), ("WM_NAME", None)):
        prop = win.get_full_property(d.intern_atom(atom),
                                     d.intern_atom(kind) if kind else X.AnyPropertyType)
        if prop is not None and prop.value:
            v = prop.value
            return v.decode("utf-8", "replace") if isinstance(v, bytes) else str(v)
    return ""


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def launch(argv, title_prefix, env):
    """(seconds to the map, RSS KiB at the map, RSS KiB a second later) of one run."""
    d = display.Display()
    root = d.screen().root
    root.change_attributes(event_mask=X.SubstructureNotifyMask)
    d.sync()
    start = time.monotonic()
    proc = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    try:
        mapped = None
        deadline = start + TIMEOUT
        while mapped is None:
            if time.monotonic() > deadline or proc.poll() is not None:
                raise RuntimeError(f"{argv[0]} showed no window titled {title_prefix!r}")
            while d.pending_events():
                event = d.next_event()
                if event.type == X.MapNotify and event.event == root:
                    try:
                        if _title(d, event.window).startswith(title_prefix):
                            mapped = time.monotonic()
                            break
                    except Exception:  # noqa: BLE001 - a window gone meanwhile
                        continue
            else:
                time.sleep(0.001)
        at_map = rss_kib(proc.pid)
        time.sleep(1.0)
        settled = rss_kib(proc.pid)
        return mapped - start, at_map, settled
    finally:
        d.close()
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def reference_env(home):
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=f"{home}/.config",
               XDG_DATA_HOME=f"{home}/.local/share", XDG_CACHE_HOME=f"{home}/.cache")
    return env


def main():
    keepassxc = shutil.which("keepassxc")
    if keepassxc is None:
        print("launch: keepassxc is missing (bench/launch installs it)", file=sys.stderr)
        return 2
    ours, theirs = [], []
    # One unmeasured run of each first: both then start from a warm file cache.
    launch([OURS], "Quorlen", dict(os.environ))
    with tempfile.TemporaryDirectory(dir=os.environ.get("QUORLEN_E2E_STATE")) as home:
        launch([keepassxc], "KeePassXC", reference_env(home))
    for _ in range(RUNS):
        ours.append(launch([OURS], "Quorlen", dict(os.environ)))
        with tempfile.TemporaryDirectory(dir=os.environ.get("QUORLEN_E2E_STATE")) as home:
            theirs.append(launch([keepassxc], "KeePassXC", reference_env(home)))

    def median(rows, i):
        return statistics.median(r[i] for r in rows)

    print(f"launch: {RUNS} runs each, medians")
    print(f"{'':24}{'quorlen-safe':>14}{'keepassxc':>14}{'ratio':>9}{'target':>9}")
    rows = [("exec to window (ms)", 0, 1000.0), ("RSS at map (MiB)", 1, 1 / 1024),
            ("RSS 1 s later (MiB)", 2, 1 / 1024)]
    for label, i, scale in rows:
        a, b = median(ours, i) * scale, median(theirs, i) * scale
        ratio = a / b if b else float("nan")
        verdict = "ok" if ratio <= TARGET else "over"
        print(f"{label:24}{a:14.1f}{b:14.1f}{ratio:8.2f}x{'<= 0.5x':>9} {verdict}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
