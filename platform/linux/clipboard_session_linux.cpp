#include "platform/clipboard_session.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace quorlen {

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// True when one entry of the colon-separated `list` is `name`, in any case.
bool listContains(std::string_view list, std::string_view name) {
    while (true) {
        const std::size_t colon = list.find(':');
        if (equalsIgnoringCase(list.substr(0, colon), name)) return true;
        if (colon == std::string_view::npos) return false;
        list.remove_prefix(colon + 1);
    }
}

bool connects(const sockaddr_un& address, socklen_t length) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
    ::close(fd);
    return ok;
}

// DISPLAY is [host]:number[.screen]; only an empty host or "unix" names the local socket.
bool xDisplayReachable(const std::string& display) {
    const std::size_t colon = display.rfind(':');
    if (colon == std::string::npos) return false;
    const std::string host = display.substr(0, colon);
    std::string number = display.substr(colon + 1);
    number = number.substr(0, number.find('.'));
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return false;
    if (!host.empty() && host != "unix") return true;
    const std::string path = "/tmp/.X11-unix/X" + number;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() + 1 >= sizeof address.sun_path) return false;
    // The abstract name first, as the X libraries try it; then the file.
    std::memcpy(address.sun_path + 1, path.data(), path.size());
    const auto base = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path));
    if (connects(address, static_cast<socklen_t>(base + 1 + path.size()))) return true;
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    return connects(address, static_cast<socklen_t>(base + path.size() + 1));
}

}  // namespace

std::string chooseToolkitPlatform(const SessionFacts& facts) {
    if (!facts.toolkitPlatform.empty()) return {};
    const bool wayland =
        !facts.waylandDisplay.empty() || equalsIgnoringCase(facts.sessionType, "wayland");
    if (!wayland || !listContains(facts.currentDesktop, "GNOME")) return {};
    if (facts.display.empty() || !facts.xDisplayReachable) return {};
    return "xcb;wayland";
}

ClipboardClearing chooseClipboardClearing(std::string_view platform, bool wlCopyFound) {
    // Qt names its Wayland platforms "wayland", "wayland-egl", "wayland-xcomposite-...".
    if (platform.substr(0, 7) != "wayland") return ClipboardClearing::toolkit;
    return wlCopyFound ? ClipboardClearing::wlCopy : ClipboardClearing::none;
}

SessionFacts readSessionFacts() {
    SessionFacts facts;
    facts.waylandDisplay = environment("WAYLAND_DISPLAY");
    facts.display = environment("DISPLAY");
    facts.sessionType = environment("XDG_SESSION_TYPE");
    facts.currentDesktop = environment("XDG_CURRENT_DESKTOP");
    facts.toolkitPlatform = environment("QT_QPA_PLATFORM");
    facts.xDisplayReachable = !facts.display.empty() && xDisplayReachable(facts.display);
    return facts;
}

void preferClearableToolkitPlatform() {
    const std::string platform = chooseToolkitPlatform(readSessionFacts());
    if (!platform.empty()) ::setenv("QT_QPA_PLATFORM", platform.c_str(), 1);
}

bool executableOnPath(std::string_view name) {
    std::string_view path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    while (!path.empty()) {
        const std::size_t colon = path.find(':');
        const std::string_view folder = path.substr(0, colon);
        if (!folder.empty()) {
            const std::string candidate = std::string(folder) + "/" + std::string(name);
            if (::access(candidate.c_str(), X_OK) == 0) return true;
        }
        if (colon == std::string_view::npos) break;
        path.remove_prefix(colon + 1);
    }
    return false;
}

}  // namespace quorlen
