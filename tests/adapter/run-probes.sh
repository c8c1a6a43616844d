#!/usr/bin/env bash
# Owner authentication and the probes on the real executable: the argument list on the build tree's program, the
# self-check and the availability test on a root-owned install run as the test user,
# against a real system bus and polkitd.
#   run-probes.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
here=$(dirname "$(realpath "$0")")
support=$here/../support
prefix=/opt/quorlen-probes
export QUORLEN_TEST_USER=${QUORLEN_TEST_USER:-quorlen-test}
export QUORLEN_TEST_PASSWORD=${QUORLEN_TEST_PASSWORD:-quorlen-test-password}
state=$(mktemp -d /tmp/quorlen-probes.XXXXXX)

cleanup() {
  "$support/system-services.sh" stop "$state" || true
  rm -rf "$prefix" "$state"
}
trap cleanup EXIT

"$support/test-user.sh"
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
chmod -R go-w "$prefix"
"$support/system-services.sh" start "$state"

QUORLEN_BUILT=$build/bin/quorlen-safe QUORLEN_INSTALLED=$prefix/bin/quorlen-safe \
  QUORLEN_SERVICES=$support/system-services.sh QUORLEN_STATE=$state \
  python3 "$here/probes_test.py"

# The authentication backend as the test user, with the scripted agent (policy installed).
runuser -u "$QUORLEN_TEST_USER" -- env -i PATH=/usr/bin:/bin \
  QUORLEN_TEST_AGENT="$build/tests/support/helpers/quorlen-test-agent" \
  QUORLEN_TEST_PASSWORD="$QUORLEN_TEST_PASSWORD" DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent \
  "$build/tests/adapter_authentication_test"
