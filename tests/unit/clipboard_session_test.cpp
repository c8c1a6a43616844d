#include <gtest/gtest.h>

#include <string>

#include "platform/clipboard_session.h"

namespace quorlen {
namespace {

struct PlatformCase {
    const char* name;
    SessionFacts facts;
    std::string expected;
};

SessionFacts gnomeWayland() {
    return SessionFacts{"wayland-0", ":0", "wayland", "GNOME", "", true};
}

SessionFacts with(SessionFacts facts, void (*change)(SessionFacts&)) {
    change(facts);
    return facts;
}

TEST(ClipboardSession, ToolkitPlatform) {
    const PlatformCase cases[] = {
        {"GnomeWaylandWithXwayland", gnomeWayland(), "xcb;wayland"},
        {"DesktopListNamingGnome",
         with(gnomeWayland(), [](SessionFacts& f) { f.currentDesktop = "ubuntu:GNOME"; }),
         "xcb;wayland"},
        {"DesktopInOtherCase",
         with(gnomeWayland(), [](SessionFacts& f) { f.currentDesktop = "gnome"; }), "xcb;wayland"},
        {"SessionTypeUnsetButWaylandDisplay",
         with(gnomeWayland(), [](SessionFacts& f) { f.sessionType = ""; }), "xcb;wayland"},
        {"SessionTypeOnly", with(gnomeWayland(), [](SessionFacts& f) { f.waylandDisplay = ""; }),
         "xcb;wayland"},
        {"NoXDisplay", with(gnomeWayland(), [](SessionFacts& f) { f.display = ""; }), ""},
        {"XDisplayUnreachable",
         with(gnomeWayland(), [](SessionFacts& f) { f.xDisplayReachable = false; }), ""},
        {"PlatformChosenByCaller",
         with(gnomeWayland(), [](SessionFacts& f) { f.toolkitPlatform = "wayland"; }), ""},
        {"OtherDesktop", with(gnomeWayland(), [](SessionFacts& f) { f.currentDesktop = "KDE"; }),
         ""},
        {"DesktopNameMerelyContainingGnome",
         with(gnomeWayland(), [](SessionFacts& f) { f.currentDesktop = "GNOME-Flashback"; }), ""},
        {"X11Session", SessionFacts{"", ":0", "x11", "GNOME", "", true}, ""},
        {"NothingKnown", SessionFacts{}, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(chooseToolkitPlatform(c.facts), c.expected) << c.name;
    }
}

TEST(ClipboardSession, ClearingByPlatform) {
    struct Case {
        const char* platform;
        bool wlCopy;
        ClipboardClearing expected;
    };
    const Case cases[] = {
        {"xcb", false, ClipboardClearing::toolkit},
        {"xcb", true, ClipboardClearing::toolkit},
        {"offscreen", false, ClipboardClearing::toolkit},
        {"wayland", true, ClipboardClearing::wlCopy},
        {"wayland-egl", true, ClipboardClearing::wlCopy},
        {"wayland", false, ClipboardClearing::none},
        {"wayland-egl", false, ClipboardClearing::none},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(chooseClipboardClearing(c.platform, c.wlCopy), c.expected)
            << c.platform << " wl-copy " << c.wlCopy;
    }
}

}  // namespace
}  // namespace quorlen
