#pragma once

// How this program clears the clipboard in the desktop session it finds itself in.
//
// On an X11 display anyone may take the CLIPBOARD selection or give it up at any time, so the
// toolkit's own clear works. A Wayland compositor takes a clipboard change only from a client
// that has the keyboard focus and a fresh input serial; 20 seconds after a copy the user is
// usually in another program, so a native Wayland clear is dropped (GNOME's compositor then
// keeps serving its own copy of the text, also after this program has exited). There the
// program runs through XWayland when it can, whose X selection the compositor follows at any
// time, or else clears with wl-copy, which gets the focus for a moment to do it.

#include <string>
#include <string_view>

namespace quorlen {

// What the program learns of its session before the toolkit starts.
struct SessionFacts {
    std::string waylandDisplay;      // WAYLAND_DISPLAY
    std::string display;             // DISPLAY
    std::string sessionType;         // XDG_SESSION_TYPE
    std::string currentDesktop;      // XDG_CURRENT_DESKTOP, a colon-separated list
    std::string toolkitPlatform;     // QT_QPA_PLATFORM as whoever started the program set it
    bool xDisplayReachable = false;  // the X server named by DISPLAY accepts a connection
};

// The ways of clearing, from the toolkit's own clear to none that can take effect.
enum class ClipboardClearing { toolkit, wlCopy, none };

// The toolkit platform list to ask for ("xcb;wayland": XWayland first, native Wayland if the
// X platform cannot start), or empty to leave the choice to the toolkit. Asks only in a
// GNOME Wayland session with a reachable X display, and never overrides a platform that
// whoever started the program chose.
std::string chooseToolkitPlatform(const SessionFacts& facts);

// The way of clearing once the toolkit runs on `platform` (its platform name: "xcb",
// "wayland", "offscreen", ...), given whether wl-copy was found on the PATH.
ClipboardClearing chooseClipboardClearing(std::string_view platform, bool wlCopyFound);

// Reads the facts from the environment, and tries a connection to DISPLAY's local socket
// (a remote DISPLAY counts as reachable: the toolkit's fallback settles it).
SessionFacts readSessionFacts();

// Sets QT_QPA_PLATFORM to chooseToolkitPlatform(readSessionFacts()) when that is not empty.
// Call before the toolkit's application object exists.
void preferClearableToolkitPlatform();

// True when an executable `name` is in one of PATH's folders.
bool executableOnPath(std::string_view name);

}  // namespace quorlen
