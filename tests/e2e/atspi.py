"""Drives the installed program as a person would, through the accessibility tree.

Runs as the test user inside the session harness.sh builds. Everything here waits with a
timeout instead of sleeping a fixed time, and reads the tree afresh on each try: the
accessibility client library would otherwise keep answering with names it cached.

Nothing given to type_text or set_text is ever printed or written anywhere (later flows
type secrets through them), and Program.output() blanks it out of what the program
printed. A test must not put a typed secret in an assertion message either.
"""

import os
import subprocess
import tempfile
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

import x11  # noqa: E402

PROGRAM = os.environ.get("QUORLEN_E2E_PROGRAM", "quorlen-safe")
# Where tests leave pictures and other files worth keeping.
OUT = os.environ.get("QUORLEN_E2E_OUT", tempfile.gettempdir())
STATE = os.environ.get("QUORLEN_E2E_STATE", tempfile.gettempdir())

TIMEOUT = 20.0

# The test user's password, for the scripted polkit agent only (see flows.py): taken out
# of the environment at once, so that no program started from here inherits it.
TEST_PASSWORD = os.environ.pop("QUORLEN_TEST_PASSWORD", None)

# Every text typed or set in this test process, kept in memory only, so that what the
# program prints can be shown with it blanked out and checked for it.
_typed = []


def _remember(value):
    if value and value not in _typed:
        _typed.append(value)


# Roles a top-level window of a Qt program takes: a plain QWidget is a filler, QDialog a
# dialog, QMessageBox an alert.
WINDOW_ROLES = {
    Atspi.Role.FRAME,
    Atspi.Role.WINDOW,
    Atspi.Role.FILLER,
    Atspi.Role.DIALOG,
    Atspi.Role.ALERT,
}
ALERT_ROLES = {Atspi.Role.DIALOG, Atspi.Role.ALERT}

# The roles that a view the user reads or uses takes, for views().
VIEW_ROLES = {
    Atspi.Role.LABEL,
    Atspi.Role.STATIC,
    Atspi.Role.COMBO_BOX,
    Atspi.Role.PUSH_BUTTON,
    Atspi.Role.TEXT,
    Atspi.Role.ENTRY,
    Atspi.Role.PASSWORD_TEXT,
}


class Timeout(AssertionError):
    pass


class Ended(AssertionError):
    """What was waited for can no longer come: wait_for gives up at once."""


def wait_for(what, probe, timeout=TIMEOUT, interval=0.1):
    """Calls probe until it returns something true and returns that; fails after timeout.

    A probe that raises counts as not yet, widgets come and go while the tree is read,
    except with Ended.
    """
    deadline = time.monotonic() + timeout
    last_error = None
    while True:
        try:
            result = probe()
            if result:
                return result
        except Ended:
            raise
        except Exception as error:  # noqa: BLE001 - the tree changes under us
            last_error = error
        if time.monotonic() >= deadline:
            detail = f" (last error: {last_error})" if last_error else ""
            raise Timeout(f"timed out after {timeout:.0f} s waiting for {what}{detail}")
        time.sleep(interval)


# ---- the program as a process ----


class Program:
    """One run of the installed program, its output kept in files of the session's state.

    Use as a context manager: a run still going at the end of the block is ended, so a
    failed test leaves no window behind for the next one.
    """

    def __init__(self, *args, program=None):
        self.args = [program or PROGRAM, *args]
        fd, self.output_path = tempfile.mkstemp(prefix="program-", suffix=".log", dir=STATE)
        with os.fdopen(fd, "wb") as output:
            self.process = subprocess.Popen(
                self.args, stdin=subprocess.DEVNULL, stdout=output, stderr=subprocess.STDOUT
            )
        self.pid = self.process.pid

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
        return False

    def running(self):
        return self.process.poll() is None

    def wait(self, timeout=TIMEOUT):
        """Returns the exit status; fails if the program is still running after timeout."""
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Timeout(f"the program (pid {self.pid}) still runs after {timeout:.0f} s") from None

    def stop(self):
        if self.running():
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()

    def _raw_output(self):
        with open(self.output_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def output(self):
        """What the program printed on its standard output and error, every text typed in
        this test process blanked out: fit for a failure message."""
        text = self._raw_output()
        for value in sorted(_typed, key=len, reverse=True):
            text = text.replace(value, "[typed text]")
        return text

    def printed_typed_text(self):
        """Whether the program printed any text that was typed into it."""
        raw = self._raw_output()
        return any(value in raw for value in _typed)

    def application(self, timeout=TIMEOUT):
        """The program's accessible application, once it has published at least one window."""
        return wait_for(f"the program (pid {self.pid}) on the accessibility bus",
                        lambda: self._application(), timeout)

    def _application(self):
        if not self.running():
            raise Ended(f"the program ended with status {self.process.returncode} "
                          f"before it showed anything:\n{self.output()}")
        desktop = Atspi.get_desktop(0)
        desktop.clear_cache()
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app is not None and app.get_process_id() == self.pid:
                app.set_cache_mask(Atspi.Cache.NONE)
                return app if app.get_child_count() > 0 else None
        return None


# ---- reading the tree ----


def role(acc):
    return acc.get_role()


def name(acc):
    return acc.get_name() or ""


def children(acc):
    acc.clear_cache()
    result = []
    for i in range(acc.get_child_count()):
        child = acc.get_child_at_index(i)
        if child is not None:
            result.append(child)
    return result


def descendants(acc, roles=None):
    """Every accessible under acc, depth first in tree order, optionally of some roles only."""
    found = []
    for child in children(acc):
        if roles is None or role(child) in roles:
            found.append(child)
        found.extend(descendants(child, roles))
    return found


def showing(acc):
    states = acc.get_state_set()
    return states.contains(Atspi.StateType.SHOWING) and not states.contains(
        Atspi.StateType.DEFUNCT)


def windows(app):
    """The program's top-level windows that are on screen."""
    return [w for w in children(app) if role(w) in WINDOW_ROLES and showing(w)]


def _alive(app):
    """Raises Ended once the program behind app has gone."""
    pid = app.get_process_id()
    if pid <= 0:
        return
    try:
        with open(f"/proc/{pid}/stat") as f:
            ended = f.read().rsplit(")", 1)[1].split()[0] in ("Z", "X")
    except FileNotFoundError:
        ended = True
    if ended:
        raise Ended(f"the program (pid {pid}) has ended")


def window(app, title, timeout=TIMEOUT):
    """Waits for the on-screen top-level window with exactly this title."""
    def probe():
        _alive(app)
        matches = [w for w in windows(app) if name(w) == title]
        return matches[0] if matches else None

    return wait_for(f"a window titled {title!r}", probe, timeout)


def alert(app, timeout=TIMEOUT):
    """Waits for an on-screen alert or dialog of the program and returns it."""
    def probe():
        _alive(app)
        matches = [w for w in windows(app) if role(w) in ALERT_ROLES]
        return matches[0] if matches else None

    return wait_for("an alert", probe, timeout)


def extents(acc):
    box = acc.get_extents(Atspi.CoordType.SCREEN)
    return box.x, box.y, box.width, box.height


def on_screen_order(accs):
    """Sorts views as a reader takes them: by rows from the top, left to right in a row.

    Two views belong to one row when their vertical ranges overlap.
    """
    boxes = [(extents(a), a) for a in accs]
    boxes.sort(key=lambda b: (b[0][1], b[0][0]))
    rows = []
    for box, acc in boxes:
        if rows:
            top, bottom, members = rows[-1]
            if box[1] < bottom and box[1] + box[3] > top:
                members.append((box, acc))
                rows[-1] = (top, max(bottom, box[1] + box[3]), members)
                continue
        rows.append((box[1], box[1] + box[3], [(box, acc)]))
    ordered = []
    for _, _, members in rows:
        ordered.extend(acc for _, acc in sorted(members, key=lambda m: m[0][0]))
    return ordered


def views(container):
    """The views a person sees in a window, in reading order, as (role name, text) pairs.

    The entries of a pop-up's list are not views of their own: see items().
    """
    found = []
    for acc in descendants(container, VIEW_ROLES):
        if not showing(acc):
            continue
        parent = acc.get_parent()
        if parent is not None and role(parent) == Atspi.Role.LIST:
            continue
        found.append(acc)
    return [(acc.get_role_name(), text(acc)) for acc in on_screen_order(found)]


def text(acc):
    """The text a view shows: a label's or a button's name, a field's contents."""
    if role(acc) in (Atspi.Role.TEXT, Atspi.Role.ENTRY, Atspi.Role.PASSWORD_TEXT):
        iface = acc.get_text_iface()
        if iface is not None:
            return iface.get_text(0, iface.get_character_count())
    return name(acc)


def labels(container):
    """The texts of the labels in the container, in reading order."""
    found = [a for a in descendants(container, {Atspi.Role.LABEL, Atspi.Role.STATIC})
             if showing(a)]
    return [name(a) for a in on_screen_order(found)]


def buttons(container):
    """The titles of the push buttons in the container, in reading order."""
    found = [a for a in descendants(container, {Atspi.Role.PUSH_BUTTON}) if showing(a)]
    return [name(a) for a in on_screen_order(found)]


def find(container, roles, title=None):
    """The one showing accessible of these roles (and this name, if given); fails otherwise."""
    if not isinstance(roles, (set, frozenset)):
        roles = {roles}
    matches = [a for a in descendants(container, roles)
               if showing(a) and (title is None or name(a) == title)]
    if len(matches) != 1:
        wanted = ", ".join(Atspi.role_get_name(r) for r in roles)
        raise AssertionError(f"expected one {wanted} named {title!r}, found {len(matches)}")
    return matches[0]


def combo_box(container):
    return find(container, Atspi.Role.COMBO_BOX)


def items(combo):
    """The entries of a pop-up list, in order."""
    lists = [c for c in children(combo) if role(c) in (Atspi.Role.LIST, Atspi.Role.MENU)]
    entries = []
    for lst in lists:
        entries.extend(name(e) for e in children(lst))
    return entries


def selected_item(combo):
    """The title the pop-up shows as selected ('' when it has no entries)."""
    return name(combo)


# ---- acting ----

PRESS_ACTIONS = ("press", "click", "activate")


def do_action(acc, names=PRESS_ACTIONS):
    iface = acc.get_action_iface()
    if iface is None:
        raise AssertionError(f"{acc.get_role_name()} {name(acc)!r} has no actions")
    available = [iface.get_action_name(i) for i in range(iface.get_n_actions())]
    for wanted in names:
        for i, action in enumerate(available):
            if action.lower() == wanted:
                if not iface.do_action(i):
                    raise AssertionError(f"{action} on {name(acc)!r} was refused")
                return
    raise AssertionError(f"{name(acc)!r} offers {available}, none of {list(names)}")


def press(container, title):
    """Presses the one push button with this title in the container."""
    do_action(find(container, Atspi.Role.PUSH_BUTTON, title))


def click(acc):
    """Clicks the middle of acc with the first mouse button."""
    x, y, width, height = extents(acc)
    if width <= 0 or height <= 0:
        raise AssertionError(f"{acc.get_role_name()} {name(acc)!r} has no area on screen")
    subprocess.run(["xdotool", "mousemove", "--sync", str(x + width // 2), str(y + height // 2),
                    "click", "1"], check=True)


def select_item(combo, title):
    """Selects the pop-up entry with this title as a person does: opens the list with a
    click and clicks the entry."""
    if title not in items(combo):
        raise AssertionError(f"the pop-up has no entry {title!r}")
    activate(combo)
    click(combo)

    def shown_entry():
        for lst in children(combo):
            for entry in children(lst):
                if name(entry) == title and showing(entry) and extents(entry)[2] > 0:
                    return entry
        return None

    click(wait_for(f"the entry {title!r} on screen", shown_entry, 5))
    wait_for(f"{title!r} to be selected", lambda: selected_item(combo) == title, 5)


def top_level(acc):
    """The top-level window that holds acc."""
    while True:
        parent = acc.get_parent()
        if parent is None or role(parent) == Atspi.Role.APPLICATION:
            return acc
        acc = parent


def activate(acc):
    """Gives the keyboard focus to the window that holds acc."""
    window = top_level(acc)
    x11.activate(name(window), extents(window))


def focused(acc):
    return acc.get_state_set().contains(Atspi.StateType.FOCUSED)


def focus(acc):
    """Gives acc the keyboard focus, its window first."""
    activate(acc)
    component = acc.get_component_iface()
    if component is None or not component.grab_focus():
        try:
            do_action(acc, ("setfocus",))
        except AssertionError:
            click(acc)
    wait_for(f"the focus on {name(acc)!r}", lambda: focused(acc), 5)


def set_text(field, value):
    """Replaces a field's text through the accessibility interface."""
    _remember(value)
    iface = field.get_editable_text_iface()
    if iface is None or not iface.set_text_contents(value):
        raise AssertionError(f"{field.get_role_name()} does not take text")


def type_text(field, value):
    """Focuses the field and types value on the X keyboard, as a person would. The text
    goes straight to the X server: no other process and no log sees it."""
    _remember(value)
    focus(field)
    x11.type_text(value)


def key(keysym):
    """Sends one key (an X keysym name such as Return or Escape) to the focused window."""
    subprocess.run(["xdotool", "key", "--clearmodifiers", keysym], check=True)


def wait_gone(acc, timeout=TIMEOUT):
    """Waits until the window or widget is no longer on screen."""
    try:
        title = name(acc)
    except Exception:  # noqa: BLE001 - already gone
        return

    def probe():
        try:
            return not showing(acc)
        except Exception:  # noqa: BLE001 - its object is gone: so is the window
            return True

    wait_for(f"{title!r} to close", probe, timeout)
