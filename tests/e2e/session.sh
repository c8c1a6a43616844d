#!/usr/bin/env bash
# The test user's desktop session, started by harness.sh (never directly): reads the login
# keyring password from the first line of stdin, starts Xvfb, a session bus, the
# accessibility bus and gnome-keyring, runs the command given and stops each of them by its
# process id, the command's exit status being this script's.
set -euo pipefail

: "${QUORLEN_E2E_STATE:?run through harness.sh}"
state=$QUORLEN_E2E_STATE
logs=$state/logs
mkdir -p "$logs" "$state/home" "$state/runtime"
chmod 700 "$state/home" "$state/runtime"
IFS= read -r keyring_password || true

export HOME=$state/home
export XDG_RUNTIME_DIR=$state/runtime
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache
# No dconf: the accessibility switch and any other setting live only in this session.
export GSETTINGS_BACKEND=memory
export QT_QPA_PLATFORM=xcb QT_ACCESSIBILITY=1 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
ulimit -c 0

started=()
cleanup() {
  local status=$?
  local i pid
  for ((i = ${#started[@]} - 1; i >= 0; i--)); do
    pid=${started[i]}
    kill "$pid" 2>/dev/null || continue
    for _ in $(seq 1 30); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  done
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

has_line() { [[ -s $1 ]] && grep -q '^.' "$1"; }
wait_for() {
  local what=$1
  shift
  for _ in $(seq 1 100); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  echo "session: timed out waiting for $what" >&2
  return 1
}

# X: a display of its own, chosen by Xvfb, a private cookie, no TCP.
# The server reads its cookies from a file of its own; clients find theirs for the display
# number Xvfb picked.
export XAUTHORITY=$state/xauthority
cookie=$(mcookie)
: >"$state/xserver-auth"
: >"$XAUTHORITY"
xauth -q -f "$state/xserver-auth" add :0 . "$cookie"
Xvfb -displayfd 5 5>"$state/display" -auth "$state/xserver-auth" -nolisten tcp -noreset \
  -screen 0 1280x800x24 >"$logs/xvfb.log" 2>&1 &
started+=($!)
wait_for "Xvfb" has_line "$state/display"
display=$(head -n1 "$state/display")
xauth -q -f "$XAUTHORITY" add ":$display" . "$cookie"
unset cookie
export DISPLAY=:$display
wait_for "the display" xdpyinfo >/dev/null 2>&1
if XAUTHORITY=/dev/null xdpyinfo >/dev/null 2>&1; then
  echo "session: the display takes clients without the cookie" >&2
  exit 1
fi

# Session bus, started after the display so that what it reaches can use it. It has no
# service files: nothing starts behind the session's back; every service of the session is
# started below and stopped by its process id.
cat >"$state/session-bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=$XDG_RUNTIME_DIR</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
dbus-daemon --config-file="$state/session-bus.conf" --nofork --nopidfile --print-address=5 \
  5>"$state/bus-address" >"$logs/session-bus.log" 2>&1 &
started+=($!)
wait_for "the session bus" has_line "$state/bus-address"
DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$state/bus-address")
export DBUS_SESSION_BUS_ADDRESS

session_call() {
  dbus-send --session --print-reply "$@" 2>/dev/null
}
has_owner() {
  session_call --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner "string:$1" |
    grep -q 'boolean true'
}

# Accessibility bus, with the switch that tells toolkits to publish their widgets.
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$logs/at-spi.log" 2>&1 &
started+=($!)
wait_for "the accessibility bus" has_owner org.a11y.Bus
session_call --dest=org.a11y.Bus /org/a11y/bus org.freedesktop.DBus.Properties.Set \
  string:org.a11y.Status string:IsEnabled variant:boolean:true >/dev/null
a11y_enabled() {
  session_call --dest=org.a11y.Bus /org/a11y/bus org.freedesktop.DBus.Properties.Get \
    string:org.a11y.Status string:IsEnabled | grep -q 'boolean true'
}
wait_for "accessibility to be enabled" a11y_enabled

# The Secret Service, with the login collection created and unlocked by that password.
printf '%s' "$keyring_password" |
  gnome-keyring-daemon --foreground --unlock --components=secrets >"$logs/keyring.log" 2>&1 &
started+=($!)
# The same password is the test user's own: the command hands it to the scripted polkit
# agent through the environment, never through a file or an argument.
test_password=$keyring_password
unset keyring_password
wait_for "the Secret Service" has_owner org.freedesktop.secrets
default_collection() {
  session_call --dest=org.freedesktop.secrets /org/freedesktop/secrets \
    org.freedesktop.Secret.Service.ReadAlias string:default |
    sed -n 's/.*object path "\(.*\)"/\1/p'
}
collection_ready() {
  local path
  path=$(default_collection)
  [[ -n $path && $path != / ]] || return 1
  session_call --dest=org.freedesktop.secrets "$path" org.freedesktop.DBus.Properties.Get \
    string:org.freedesktop.Secret.Collection string:Locked | grep -q 'boolean false'
}
wait_for "an unlocked login collection" collection_ready

set +e
QUORLEN_TEST_PASSWORD=$test_password "$@"
status=$?
set -e
exit "$status"
