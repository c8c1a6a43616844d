#!/usr/bin/env bash
# Sanitizer tier: builds the unit and adapter tests with AddressSanitizer and
# UndefinedBehaviorSanitizer (build-asan) and runs the unit suite, the offscreen Qt suite,
# the keyring suite (which starts its own bus and gnome-keyring), the clipboard suite under
# Xvfb and the polkit suite as the test user; then builds the unit tests
# and the offscreen Qt tests with ThreadSanitizer (build-tsan) and runs them: the threaded
# delete path, the rest of the unit suite and the toolkit's cross-thread queue. Nothing
# there talks to polkit; Qt is not instrumented, yet needs no suppression so far. Any
# sanitizer report fails the tier. Only the test programs these need are built. Both builds
# use clang by default: here it builds them about four times faster than g++ does.
#   tests/sanitizers/run.sh            (QUORLEN_SANITIZER_CXX=g++ to build with g++)
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
here=$top/tests/sanitizers
cxx=${QUORLEN_SANITIZER_CXX:-clang++}
jobs=$(nproc)

# A report ends the process with a non-zero status; the log check below also catches one
# that a test program's own exit status would hide.
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export LSAN_OPTIONS=suppressions=$here/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export TSAN_OPTIONS=halt_on_error=1:suppressions=$here/tsan.supp
logs=$(mktemp -d /tmp/quorlen-sanitizers.XXXXXX)
trap 'rm -rf "$logs"' EXIT

build() {
  local dir=$1 sanitizer=$2
  shift 2
  echo "== build $dir ($sanitizer, $cxx)"
  cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$cxx" \
    -DQUORLEN_SANITIZE="$sanitizer" -DQUORLEN_FUZZ=OFF >/dev/null &&
    cmake --build "$dir" -j"$jobs" --target "$@" >"$logs/build.log" 2>&1 ||
    { tail -40 "$logs/build.log"; return 1; }
}

failed=()
run() {
  local name=$1 log=$logs/run.log
  shift
  echo "== $name"
  "$@" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  if ((rc != 0)) || grep -qE '^(==[0-9]+==ERROR: |SUMMARY: (Address|Leak|Thread|UndefinedBehavior)Sanitizer)|WARNING: ThreadSanitizer|runtime error: ' "$log"; then
    echo "FAILED: $name (status $rc)" >&2
    failed+=("$name")
  fi
}

# The polkit backend as the unprivileged test user against a real polkitd, answered by
# the scripted agent, as the probes tier runs it.
polkit_as_test_user() {
  local build=$1 state rc
  state=$(mktemp -d /tmp/quorlen-sanitizers-polkit.XXXXXX)
  "$top/tests/support/test-user.sh"
  install -m 644 "$top/packaging/com.quorlen.safe.policy" /usr/share/polkit-1/actions/
  "$top/tests/support/system-services.sh" start "$state"
  runuser -u "${QUORLEN_TEST_USER:-quorlen-test}" -- env -i PATH=/usr/bin:/bin \
    ASAN_OPTIONS="$ASAN_OPTIONS" LSAN_OPTIONS="$LSAN_OPTIONS" UBSAN_OPTIONS="$UBSAN_OPTIONS" \
    QUORLEN_TEST_AGENT="$build/tests/support/helpers/quorlen-test-agent" \
    QUORLEN_TEST_PASSWORD="${QUORLEN_TEST_PASSWORD:-quorlen-test-password}" \
    "$build/tests/adapter_authentication_test"
  rc=$?
  "$top/tests/support/system-services.sh" stop "$state"
  rm -rf "$state"
  return $rc
}

asan=$top/build-asan
if build "$asan" address unit_tests adapter_qt_window_test adapter_keychain_test \
  adapter_secret_session_test \
  adapter_clipboard_test adapter_authentication_test quorlen-test-agent; then
  # The sanitizers replace mlock with a no-op, so the check that secrets are locked in
  # memory cannot hold in these builds; the plain unit tier runs it.
  run "asan: unit" "$asan/tests/unit_tests" --gtest_filter='-SecretBytes.LiveOutsideCoreDumpsAndSwap'
  run "asan: qt offscreen" "$top/tests/adapter/run-qt.sh" "$asan"
  run "asan: keyring" "$top/tests/adapter/run-keyring.sh" "$asan"
  run "asan: clipboard under Xvfb" "$top/tests/adapter/run-clipboard.sh" "$asan"
  run "asan: polkit" polkit_as_test_user "$asan"
else
  failed+=("asan build")
fi

tsan=$top/build-tsan
if build "$tsan" thread unit_tests adapter_qt_window_test; then
  run "tsan: threaded delete" "$tsan/tests/unit_tests" --gtest_filter='DeleteKey*'
  run "tsan: rest of unit" "$tsan/tests/unit_tests" \
    --gtest_filter='-DeleteKey*:SecretBytes.LiveOutsideCoreDumpsAndSwap'
  run "tsan: qt offscreen" "$top/tests/adapter/run-qt.sh" "$tsan"
else
  failed+=("tsan build")
fi

((${#failed[@]} == 0)) || { echo "sanitizer runs failed: ${failed[*]}" >&2; exit 1; }
