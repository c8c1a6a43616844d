#!/usr/bin/env bash
# Adapter tier for the window toolkit: runs adapter_qt_window_test on Qt's offscreen
# platform, which needs no display server. Extra arguments go to the test program
# (for example --gtest_filter=QtWindowTest.*).
#   tests/adapter/run-qt.sh BUILD_DIR [gtest options]
set -euo pipefail
build=$(cd "${1:?usage: run-qt.sh BUILD_DIR [gtest options]}" && pwd)
shift
test_bin=$build/tests/adapter_qt_window_test
[[ -x $test_bin ]] || { echo "missing $test_bin: build first" >&2; exit 2; }

# Offscreen only: never a real display, and no session services picked up by accident.
export QT_QPA_PLATFORM=offscreen
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORMTHEME QT_STYLE_OVERRIDE
# Qt wants a private runtime folder; give it one that goes away afterwards.
runtime=$(mktemp -d /tmp/quorlen-qt.XXXXXX)
chmod 700 "$runtime"
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR=$runtime

"$test_bin" "$@"
