#!/usr/bin/env bash
# Makes the unprivileged account the adapter and end-to-end tests run the program as.
# Prints nothing; safe to run again.
set -euo pipefail
QUORLEN_TEST_USER=${QUORLEN_TEST_USER:-quorlen-test}
QUORLEN_TEST_PASSWORD=${QUORLEN_TEST_PASSWORD:-quorlen-test-password}
if ! id -u "$QUORLEN_TEST_USER" >/dev/null 2>&1; then
  useradd --create-home --shell /bin/bash "$QUORLEN_TEST_USER"
fi
echo "$QUORLEN_TEST_USER:$QUORLEN_TEST_PASSWORD" | chpasswd
