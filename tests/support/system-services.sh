#!/usr/bin/env bash
# Starts or stops the system-side services the tests need: the system bus at its fixed
# path (reused when one already runs) and polkitd. Each started process is stopped by the
# process id recorded at its start.
#   system-services.sh start STATE_DIR
#   system-services.sh stop STATE_DIR
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/processes.sh"
action=$1
state=$2
mkdir -p "$state"

bus_socket=/run/dbus/system_bus_socket

bus_answers() {
  dbus-send --system --print-reply --dest=org.freedesktop.DBus / \
    org.freedesktop.DBus.GetId >/dev/null 2>&1
}

polkit_answers() {
  dbus-send --system --print-reply --dest=org.freedesktop.DBus / \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.PolicyKit1 2>/dev/null |
    grep -q 'boolean true'
}

stop_pid_file() {
  local file=$1
  [[ -f $file ]] || return 0
  stop_pids "$(cat "$file")"
  rm -f "$file"
}

case $action in
  start)
    if ! bus_answers; then
      mkdir -p /run/dbus
      rm -f "$bus_socket"
      # The stock system bus with service activation taken out, so that a service the
      # tests stopped stays stopped and nothing starts that no process id was kept for.
      sed -e '/standard_system_servicedirs/d' -e '/servicehelper/d' -e '/<syslog/d' \
          -e '/<pidfile>/d' -e '/selinux_root_relative/d' \
          -e 's#<includedir>system.d</includedir>#<includedir>/usr/share/dbus-1/system.d</includedir>#' \
          /usr/share/dbus-1/system.conf >"$state/system-bus.conf"
      dbus-daemon --config-file="$state/system-bus.conf" --fork --nopidfile \
        --print-pid=3 3>"$state/system-bus.pid"
      wait_for bus_answers
    fi
    if ! polkit_answers; then
      /usr/lib/polkit-1/polkitd --no-debug >"$state/polkitd.log" 2>&1 &
      echo $! >"$state/polkitd.pid"
      wait_for polkit_answers
    fi
    ;;
  stop-polkit)
    stop_pid_file "$state/polkitd.pid"
    ;;
  stop)
    stop_pid_file "$state/polkitd.pid"
    stop_pid_file "$state/system-bus.pid"
    ;;
  *)
    echo "usage: $0 start|stop|stop-polkit STATE_DIR" >&2
    exit 2
    ;;
esac
