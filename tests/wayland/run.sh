#!/usr/bin/env bash
# Wayland tier: the clipboard on a headless GNOME compositor (mutter with Xwayland) on a
# private session bus, read from outside with wl-paste. bed.py starts mutter and every
# program on it and stops each by its process id; dbus-run-session ends the bus.
#   tests/wayland/run.sh BUILD_DIR [unittest names, e.g. test_clipboard.XwaylandTest]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: run.sh BUILD_DIR [tests]}" && pwd)
shift
for program in wayland_clipboard_probe wayland_focus_window; do
  [[ -x $build/tests/wayland/$program ]] || { echo "missing $program: build first" >&2; exit 2; }
done
for tool in mutter Xwayland wl-copy wl-paste dbus-run-session timeout; do
  command -v "$tool" >/dev/null || { echo "missing $tool (tests/support/deps.sh)" >&2; exit 2; }
done
compgen -G "/usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so" >/dev/null ||
  { echo "missing Qt's Wayland platform (qt6-wayland)" >&2; exit 2; }

unset WAYLAND_DISPLAY DISPLAY XAUTHORITY QT_QPA_PLATFORM
export QUORLEN_BUILD=$build PYTHONDONTWRITEBYTECODE=1
cd "$here"
((${#@})) || set -- test_clipboard
exec timeout 300 dbus-run-session -- /usr/bin/python3 -m unittest -v "$@"
