#!/usr/bin/env bash
# Adapter tier for the store: runs adapter_keychain_test against a real gnome-keyring on a
# private session bus, in a temporary HOME, then in two places where no store answers.
# Everything started here is stopped by its process id on exit.
#   tests/adapter/run-keyring.sh BUILD_DIR
set -euo pipefail
# shellcheck source=../support/processes.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/processes.sh"
build=$(cd "${1:?usage: run-keyring.sh BUILD_DIR}" && pwd)
test_bin=$build/tests/adapter_keychain_test
[[ -x $test_bin ]] || { echo "missing $test_bin: build first" >&2; exit 2; }

work=$(mktemp -d /tmp/quorlen-keyring.XXXXXX)
pids=()
cleanup() {
  stop_pids "${pids[@]}"
  rm -rf "$work"
}
trap cleanup EXIT

# A session bus that activates nothing, so every process on it is one started here.
start_bus() {
  local name=$1
  cat >"$work/$name.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$work/$name.socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
  dbus-daemon --config-file="$work/$name.conf" --nofork --nopidfile 2>>"$work/$name.log" &
  pids+=($!)
  export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/$name.socket
  wait_for dbus-send --session --dest=org.freedesktop.DBus --print-reply / \
    org.freedesktop.DBus.GetId >/dev/null 2>&1
}

name_owned() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
    org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true'
}

export HOME=$work/home XDG_RUNTIME_DIR=$work/run
mkdir -p "$HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY XDG_DATA_HOME XDG_CONFIG_HOME XDG_CACHE_HOME || true

failed=0
run_tests() {
  echo "== $1"
  shift
  "$@" || failed=1
}

# 1. A real store.
start_bus keyring
gnome-keyring-daemon --foreground --unlock --components=secrets \
  <<<"quorlen-adapter-keyring" >"$work/keyring.log" 2>&1 &
pids+=($!)
wait_for name_owned org.freedesktop.secrets

run_tests "session encryption" "$build/tests/adapter_secret_session_test"

run_tests "Secret Service: stores and lists" \
  "$test_bin" --gtest_filter='KeychainTest.*:-*ListingShows*:*Locked*:*CrossesTheBus*'

# An add and a read, watched: the secret crosses the bus only encrypted. The monitor keeps
# the messages whole, so the plain bytes would show as they are.
dbus-monitor --session --binary >"$work/secret-monitor.bin" 2>/dev/null &
monitor=$!
pids+=("$monitor")
wait_for test -s "$work/secret-monitor.bin"
run_tests "Secret Service: the secret on the bus" \
  "$test_bin" --gtest_filter='*CrossesTheBus*'
sleep 0.3
kill "$monitor" 2>/dev/null || true
# The item's label travels in the same message as its secret: the monitor saw the add.
if ! grep -qa 'dh-ietf1024-sha256-aes128-cbc-pkcs7' "$work/secret-monitor.bin" ||
  ! grep -qa 'Watched key' "$work/secret-monitor.bin" ||
  ! grep -qa 'GetSecret' "$work/secret-monitor.bin"; then
  echo "FAILED: the bus monitor missed the session, the add or the read" >&2
  failed=1
elif grep -qa 'quorlen-bus-canary-7Qx2' "$work/secret-monitor.bin"; then
  echo "FAILED: the secret crossed the session bus in the clear" >&2
  failed=1
fi

# The listing runs watched: no secret may be fetched while it does.
dbus-monitor --session >"$work/monitor.log" 2>&1 &
monitor=$!
pids+=("$monitor")
wait_for test -s "$work/monitor.log"
run_tests "Secret Service: listing among odd items, locked collection" \
  "$test_bin" --gtest_filter='*ListingShows*:*Locked*'
sleep 0.3
kill "$monitor" 2>/dev/null || true
if ! grep -q 'member=SearchItems' "$work/monitor.log"; then
  echo "FAILED: the bus monitor saw no listing" >&2
  failed=1
elif grep -E 'member=(GetSecrets|GetSecret)\b' "$work/monitor.log"; then
  echo "FAILED: a secret was fetched during the listing tests" >&2
  failed=1
fi

# 2. No session bus at all.
run_tests "no session bus" \
  env -u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR="$work/empty" QUORLEN_EXPECT_UNREACHABLE=1 \
  "$test_bin" --gtest_filter='Unreachable.*'

# 3. A session bus on which nobody serves the store.
start_bus bare
run_tests "session bus without a Secret Service" \
  env QUORLEN_EXPECT_UNREACHABLE=1 "$test_bin" --gtest_filter='Unreachable.*'

exit $failed
