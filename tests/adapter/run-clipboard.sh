#!/usr/bin/env bash
# Adapter tier for the clipboard: runs adapter_clipboard_test on Qt's X11 platform against a
# private Xvfb (no TCP, its own authorization cookie), with xclip as the other program. Xvfb
# is stopped by its process id on the way out. Extra arguments go to the test program.
#   tests/adapter/run-clipboard.sh BUILD_DIR [gtest options]
set -euo pipefail
build=$(cd "${1:?usage: run-clipboard.sh BUILD_DIR [gtest options]}" && pwd)
shift
test_bin=$build/tests/adapter_clipboard_test
[[ -x $test_bin ]] || { echo "missing $test_bin: build first" >&2; exit 2; }
for tool in Xvfb xauth xclip xdpyinfo timeout; do
  command -v "$tool" >/dev/null || { echo "missing $tool (tests/support/deps.sh)" >&2; exit 2; }
done

work=$(mktemp -d /tmp/quorlen-clipboard.XXXXXX)
chmod 700 "$work"
xvfb_pid=
cleanup() {
  if [[ -n $xvfb_pid ]]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The first display number that no server has claimed; Xvfb's own lock settles a race.
export XAUTHORITY=$work/Xauthority
started=
for n in $(seq 70 130); do
  [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
  : >"$XAUTHORITY"
  xauth -q -f "$XAUTHORITY" add ":$n" . "$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')"
  Xvfb ":$n" -nolisten tcp -auth "$XAUTHORITY" -screen 0 1280x800x24 >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do
    if DISPLAY=:$n xdpyinfo >/dev/null 2>&1; then
      started=:$n
      break
    fi
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  [[ -n $started ]] && break
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=
done
[[ -n $started ]] || { echo "could not start Xvfb" >&2; cat "$work/xvfb.log" >&2; exit 1; }

export DISPLAY=$started QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY QT_QPA_PLATFORMTHEME QT_STYLE_OVERRIDE
# Qt wants a private runtime folder; this one goes with the rest.
mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR=$work/runtime

# In the foreground, so the termination signals the test raises are not ignored.
"$test_bin" "$@"
