#!/usr/bin/env bash
# Runs a command where the system bus answers but no polkit authority is on it:
#   unshare --mount --propagation private without-polkit.sh STATE_DIR -- COMMAND [ARGS...]
# Inside its own mount namespace it puts a private system bus at the fixed socket path,
# with no service files, so nothing can start polkitd on demand. Stopping the shared
# polkitd instead would break other runs that use it, and the shared bus would start it
# again at the program's first call.
set -euo pipefail
state=$1
shift 2

# Never over the real bus's folder: only in a namespace of our own.
if [[ $(readlink /proc/self/ns/mnt) == "${QUORLEN_E2E_HOST_MNTNS:?}" ]]; then
  echo "without-polkit: not in a mount namespace of its own; refusing" >&2
  exit 1
fi
mkdir -p /run/dbus
mount -t tmpfs -o mode=755,size=1m quorlen-e2e-bus /run/dbus

cat >"$state/system-bus.conf" <<'EOF'
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=/run/dbus/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_type="method_return"/>
    <allow send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="signal"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
  </policy>
</busconfig>
EOF

dbus-daemon --config-file="$state/system-bus.conf" --nofork --nopidfile \
  >"$state/private-system-bus.log" 2>&1 &
bus=$!
trap 'kill "$bus" 2>/dev/null || true; wait "$bus" 2>/dev/null || true' EXIT

for _ in $(seq 1 50); do
  dbus-send --system --print-reply --dest=org.freedesktop.DBus / \
    org.freedesktop.DBus.GetId >/dev/null 2>&1 && break
  sleep 0.1
done
if dbus-send --system --print-reply --dest=org.freedesktop.DBus / \
  org.freedesktop.DBus.NameHasOwner string:org.freedesktop.PolicyKit1 2>/dev/null |
  grep -q 'boolean true'; then
  echo "without-polkit: polkit answers on the private bus" >&2
  exit 1
fi

set +e
"$@"
status=$?
set -e
exit "$status"
