#!/usr/bin/env bash
# Runs one command as the unprivileged test user inside a complete desktop session, against
# the program installed the way a user would have it:
#   harness.sh [--without-polkit] BUILD_DIR -- COMMAND [ARGS...]
#
# As root it installs BUILD_DIR into a root-owned prefix (the program opens only from such a
# build), installs the polkit policy with it, makes the test user and starts the system bus
# and polkitd. session.sh then starts, as the test user, Xvfb, a session bus, the
# accessibility bus and gnome-keyring with an unlocked login collection, and runs COMMAND
# there. The command finds the program in $QUORLEN_E2E_PROGRAM, may write files to
# $QUORLEN_E2E_OUT, and its exit status is the harness's.
#
# With QUORLEN_E2E_PACKAGE naming a .deb, the program is the package installed with
# apt-get into /usr instead, and the package is removed again at the end.
#
# --without-polkit runs the session where the system bus answers but no polkit authority
# is on it (see without-polkit.sh), so the program finds no authority to ask.
#
# Everything started here, directly or through D-Bus activation, carries a per-run marker
# in its environment; on exit, whatever still carries it is stopped by its process id.
# Nothing typed into the program is ever written to a log here.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)

without_polkit=0
if [[ ${1:-} == --without-polkit ]]; then
  without_polkit=1
  shift
fi
if (($# < 3)) || [[ $2 != -- ]]; then
  echo "usage: $0 [--without-polkit] BUILD_DIR -- COMMAND [ARGS...]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
shift 2

if ((EUID != 0)); then
  echo "harness: must run as root (it installs the program and starts polkitd)" >&2
  exit 2
fi

package=${QUORLEN_E2E_PACKAGE:-}
prefix=${QUORLEN_E2E_PREFIX:-/opt/quorlen-e2e}
[[ -n $package ]] && prefix=/usr
user=${QUORLEN_TEST_USER:-quorlen-test}
password=${QUORLEN_TEST_PASSWORD:-quorlen-test-password}
program=$prefix/bin/quorlen-safe
policy=/usr/share/polkit-1/actions/com.quorlen.safe.policy

# Nothing started from here leaves a core file behind.
ulimit -c 0
umask 022

state=$(mktemp -d /tmp/quorlen-e2e.XXXXXX)
chmod 711 "$state"
marker=$(basename "$state")-$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n')
services_started=0
package_installed=0

log() { echo "harness: $*" >&2; }

# Every process, of any user, whose environment holds this run's marker.
marked_pids() {
  local dir pid
  for dir in /proc/[0-9]*; do
    pid=${dir#/proc/}
    ((pid == $$ || pid == BASHPID)) && continue
    if { tr '\0' '\n' <"$dir/environ"; } 2>/dev/null | grep -qxF "QUORLEN_E2E_SESSION=$marker"; then
      echo "$pid"
    fi
  done
}

cleanup() {
  local status=$?
  local pids pid
  pids=$(marked_pids)
  if [[ -n $pids ]]; then
    log "stopping leftover processes: ${pids//$'\n'/ }"
    for pid in $pids; do kill "$pid" 2>/dev/null || true; done
    for _ in $(seq 1 30); do
      pids=$(marked_pids)
      [[ -z $pids ]] && break
      sleep 0.1
    done
    for pid in $pids; do kill -9 "$pid" 2>/dev/null || true; done
  fi
  if ((services_started)); then
    "$root/tests/support/system-services.sh" stop "$state/system" || true
  fi
  if ((package_installed)); then
    DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq quorlen-safe >/dev/null 2>&1 || true
  fi
  if ((status != 0)) && [[ -d $state/user/logs ]]; then
    # Service logs only: the program's own output stays with the test that reads it.
    local f
    for f in "$state"/user/logs/*.log; do
      [[ -s $f ]] || continue
      echo "---- $(basename "$f")" >&2
      tail -n 20 "$f" >&2
    done
  fi
  rm -rf "$state"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The installed program: a clean root-owned prefix, directories 755, files not writable by
# others, so the program's own integrity check accepts it.
if [[ -n $package ]]; then
  package=$(realpath "$package")
  package_installed=1
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "$package" >"$state/install.log" 2>&1 || {
    cat "$state/install.log" >&2
    exit 1
  }
else
  [[ -f $build/cmake_install.cmake ]] || { log "$build is not a configured build folder"; exit 1; }
  rm -rf "$prefix"
  mkdir -p "$prefix"
  cmake --install "$build" --prefix "$prefix" >"$state/install.log" 2>&1 || {
    cat "$state/install.log" >&2
    exit 1
  }
  chown -R root:root "$prefix"
  chmod -R go-w "$prefix"
fi
[[ -x $program ]] || { log "install left no $program"; exit 1; }
[[ -f $policy ]] || { log "install left no $policy"; exit 1; }

"$root/tests/support/test-user.sh"
uid=$(id -u "$user")

# Xvfb refuses a socket folder it does not trust.
mkdir -p /tmp/.X11-unix
chmod 1777 /tmp/.X11-unix

mkdir -p "$state/system"
services_started=1
"$root/tests/support/system-services.sh" start "$state/system"

action_registered() { pkaction --action-id "$1" >/dev/null 2>&1; }
for _ in $(seq 1 50); do
  action_registered com.quorlen.safe.copy && action_registered com.quorlen.safe.delete && break
  sleep 0.1
done
if ! action_registered com.quorlen.safe.copy || ! action_registered com.quorlen.safe.delete; then
  log "polkitd does not list the program's two actions"
  exit 1
fi

# The scripted polkit agent the flow tests answer authentication requests with, where the
# test user can run it whatever the build folder's permissions.
agent=
if [[ -x $build/tests/support/helpers/quorlen-test-agent ]]; then
  agent=$state/quorlen-test-agent
  install -m 755 "$build/tests/support/helpers/quorlen-test-agent" "$agent"
fi

# The test user's side: private, owned by it, gone at the end.
mkdir -p "$state/user"
chown "$user:" "$state/user"
chmod 700 "$state/user"
out=${QUORLEN_E2E_OUT:-$state/user/out}
mkdir -p "$out"
chown "$user:" "$out"

session=()
if ((without_polkit)); then
  session=(env QUORLEN_E2E_HOST_MNTNS="$(readlink /proc/$$/ns/mnt)" QUORLEN_E2E_SESSION="$marker"
    unshare --mount --propagation private "$here/without-polkit.sh" "$state" --)
fi

set +e
printf '%s\n' "$password" | "${session[@]}" runuser -u "$user" -- env -i \
  PATH=/usr/sbin:/usr/bin:/sbin:/bin \
  LANG=C.UTF-8 \
  USER="$user" LOGNAME="$user" \
  QUORLEN_E2E_SESSION="$marker" \
  QUORLEN_E2E_STATE="$state/user" \
  QUORLEN_E2E_OUT="$out" \
  QUORLEN_E2E_PROGRAM="$program" \
  QUORLEN_E2E_WITHOUT_POLKIT="$without_polkit" \
  QUORLEN_E2E_UID="$uid" \
  QUORLEN_E2E_AGENT="$agent" \
  PYTHONPATH="$here" \
  PYTHONDONTWRITEBYTECODE=1 \
  "$here/session.sh" "$@"
status=$?
set -e
exit "$status"
