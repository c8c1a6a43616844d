"""The X side of the session: top-level windows by title, closing them the way a window
manager would, and pictures of them. No window manager runs on the test display, so the
program's top-level windows are the root window's children."""

import subprocess
import time

from Xlib import X, XK, Xatom, display, error, protocol
from Xlib.ext import xtest


def _open():
    return display.Display()


def _title(d, win):
    utf8 = d.intern_atom("UTF8_STRING")
    prop = win.get_full_property(d.intern_atom("_NET_WM_NAME"), utf8)
    if prop is not None and prop.value:
        value = prop.value
        return value.decode("utf-8", "replace") if isinstance(value, bytes) else str(value)
    prop = win.get_full_property(Xatom.WM_NAME, X.AnyPropertyType)
    if prop is not None and prop.value:
        value = prop.value
        return value.decode("latin-1") if isinstance(value, bytes) else str(value)
    return ""


def mapped_windows():
    """(id, title) of each mapped top-level window, bottom to top."""
    d = _open()
    try:
        found = []
        for win in d.screen().root.query_tree().children:
            try:
                if win.get_attributes().map_state == X.IsViewable:
                    found.append((win.id, _title(d, win)))
            except error.BadWindow:
                continue
        return found
    finally:
        d.close()


def window_id(title):
    """The id of the one mapped top-level window with this title; fails otherwise."""
    matches = [wid for wid, t in mapped_windows() if t == title]
    if len(matches) != 1:
        raise AssertionError(f"expected one mapped window titled {title!r}, found {len(matches)}")
    return matches[0]


def close(title):
    """Asks the window to close as a window manager's close button does: a WM_DELETE_WINDOW
    message, which the program handles through its own close path."""
    d = _open()
    try:
        win = d.create_resource_object("window", window_id(title))
        protocols = d.intern_atom("WM_PROTOCOLS")
        delete = d.intern_atom("WM_DELETE_WINDOW")
        supported = win.get_wm_protocols() or []
        if delete not in supported:
            raise AssertionError(f"{title!r} does not take WM_DELETE_WINDOW")
        event = protocol.event.ClientMessage(
            window=win, client_type=protocols, data=(32, [delete, X.CurrentTime, 0, 0, 0]))
        win.send_event(event, event_mask=X.NoEventMask)
        # A round trip, not a flush: a busy server that finds the connection already closed
        # may drop the requests still unread on it, and the message with them.
        d.sync()
    finally:
        d.close()


def window_at(box):
    """The id of the one mapped top-level window that covers exactly box (x, y, w, h)."""
    matches = [wid for wid, _ in mapped_windows() if geometry(wid) == tuple(box)]
    if len(matches) != 1:
        raise AssertionError(f"expected one mapped window at {box}, found {len(matches)}")
    return matches[0]


def activate(title, box=None):
    """Gives the window with this title (or, failing that, the one covering box) the
    keyboard focus. With no window manager nobody else does, and a program that never
    becomes active moves no focus among its widgets."""
    d = _open()
    try:
        titled = [wid for wid, t in mapped_windows() if t == title]
        wid = titled[0] if len(titled) == 1 or box is None else window_at(box)
        win = d.create_resource_object("window", wid)
        win.set_input_focus(X.RevertToParent, X.CurrentTime)
        win.raise_window()
        d.sync()
    finally:
        d.close()


def geometry(wid):
    """(x, y, width, height) of a window on the root window."""
    d = _open()
    try:
        win = d.create_resource_object("window", wid)
        g = win.get_geometry()
        origin = win.translate_coords(d.screen().root, 0, 0)
        return -origin.x, -origin.y, g.width, g.height
    finally:
        d.close()


def screen_size():
    d = _open()
    try:
        return d.screen().width_in_pixels, d.screen().height_in_pixels
    finally:
        d.close()


def size_limits(title):
    """(min width, min height, max width, max height) the window asks a window manager to
    keep it within; equal pairs mean it cannot be resized."""
    d = _open()
    try:
        hints = d.create_resource_object("window", window_id(title)).get_wm_normal_hints()
        if hints is None:
            return None
        return hints.min_width, hints.min_height, hints.max_width, hints.max_height
    finally:
        d.close()


def only_window():
    """The id of the one mapped top-level window; fails if there are none or several."""
    shown = mapped_windows()
    if len(shown) != 1:
        raise AssertionError(f"expected one mapped window, found {[t for _, t in shown]}")
    return shown[0][0]


def screenshot(path, title=None):
    """Writes a PNG of the window with this title (or of the only window), cropped to it,
    without time stamps so that an unchanged window gives an unchanged file."""
    x, y, width, height = geometry(window_id(title) if title is not None else only_window())
    subprocess.run(
        ["import", "-silent", "-window", "root", "-crop", f"{width}x{height}+{x}+{y}", "+repage",
         "-strip", "-define", "png:exclude-chunks=date,time", path],
        check=True)
    return path


_SPECIAL_KEYSYMS = {"\n": XK.XK_Return, "\r": XK.XK_Return, "\t": XK.XK_Tab}


def _keysym(ch):
    if ch in _SPECIAL_KEYSYMS:
        return _SPECIAL_KEYSYMS[ch]
    cp = ord(ch)
    if 0x20 <= cp <= 0x7E or 0xA0 <= cp <= 0xFF:
        return cp
    return 0x01000000 | cp


def type_text(value, delay=0.005):
    """Types value on the X keyboard into whatever has the focus.

    Characters the keyboard map lacks get spare key codes of their own, all bound before
    the first key goes down and unbound after the last: rebinding one code per character
    races with the program reading the new map, and a single bound symbol would be taken
    as a lower-case letter.
    """
    d = _open()
    first = d.display.info.min_keycode
    count = d.display.info.max_keycode - first + 1
    mapping = d.get_keyboard_mapping(first, count)
    where = {}
    for offset in range(count - 1, -1, -1):
        row = mapping[offset]
        for column, sym in enumerate(row[:2]):
            if sym:
                where[sym] = (first + offset, column == 1)
    spare = [first + i for i in range(count) if not any(mapping[i])]
    shift = d.keysym_to_keycode(XK.XK_Shift_L)
    bound = []
    try:
        for sym in dict.fromkeys(_keysym(ch) for ch in value):
            if sym in where:
                continue
            if not spare:
                raise AssertionError("no spare key codes left to type this text")
            code = spare.pop()
            d.change_keyboard_mapping(code, [(sym, sym)])
            where[sym] = (code, False)
            bound.append(code)
        d.sync()
        if bound:
            time.sleep(0.3)
        for ch in value:
            code, shifted = where[_keysym(ch)]
            if shifted:
                xtest.fake_input(d, X.KeyPress, shift)
            xtest.fake_input(d, X.KeyPress, code)
            xtest.fake_input(d, X.KeyRelease, code)
            if shifted:
                xtest.fake_input(d, X.KeyRelease, shift)
            d.sync()
            time.sleep(delay)
    finally:
        if bound:
            time.sleep(0.3)
            for code in bound:
                d.change_keyboard_mapping(code, [(X.NoSymbol, X.NoSymbol)])
            d.sync()
        d.close()


class ClipboardManager:
    """Stands in for a desktop clipboard manager: owns CLIPBOARD_MANAGER and, when a
    program that goes away asks it to keep the clipboard (SAVE_TARGETS), takes the
    clipboard's text from that program as a real one would. `saved` is what it got (None
    when it was not asked or got nothing); it stays in memory only. Use as a context
    manager."""

    def __init__(self):
        import threading

        self._d = display.Display()
        self._atom = self._d.intern_atom
        self._win = self._d.screen().root.create_window(0, 0, 1, 1, 0, X.CopyFromParent)
        self._win.set_selection_owner(self._atom("CLIPBOARD_MANAGER"), X.CurrentTime)
        self._d.sync()
        self.asked = False
        self.saved = None
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def _next(self, deadline):
        while time.monotonic() < deadline and not self._stop.is_set():
            if self._d.pending_events():
                return self._d.next_event()
            time.sleep(0.01)
        return None

    def _serve(self):
        manager, save = self._atom("CLIPBOARD_MANAGER"), self._atom("SAVE_TARGETS")
        clipboard, utf8 = self._atom("CLIPBOARD"), self._atom("UTF8_STRING")
        prop = self._atom("QUORLEN_E2E_SAVED")
        while not self._stop.is_set():
            event = self._next(time.monotonic() + 0.2)
            if event is None or event.type != X.SelectionRequest:
                continue
            if event.selection != manager or event.target != save:
                continue
            self.asked = True
            self._win.convert_selection(clipboard, utf8, prop, X.CurrentTime)
            self._d.flush()
            deadline = time.monotonic() + 3
            while True:
                reply = self._next(deadline)
                if reply is None or reply.type == X.SelectionNotify:
                    break
            if reply is not None and reply.property != X.NONE:
                value = self._win.get_full_property(prop, X.AnyPropertyType)
                if value is not None:
                    self.saved = bytes(value.value) if not isinstance(value.value, bytes) \
                        else value.value
            done = protocol.event.SelectionNotify(
                time=event.time, requestor=event.requestor, selection=event.selection,
                target=event.target, property=event.property)
            event.requestor.send_event(done, event_mask=X.NoEventMask)
            self._d.flush()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
        return False

    def stop(self):
        self._stop.set()
        self._thread.join(timeout=5)
        self._win.destroy()
        self._d.close()
