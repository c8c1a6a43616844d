#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan and UBSan) and runs each for a bounded time,
# starting from the seeds in tests/fuzz/corpus/<target>. Inputs found along the way are kept
# in BUILD_DIR/fuzz-corpus/<target>, so later runs go on from them; an input that fails is
# written to BUILD_DIR/fuzz-artifacts/<target>/ and the script exits non-zero.
#   tests/fuzz/run.sh [BUILD_DIR] [SECONDS]    (defaults: build-fuzz, 30 s a target)
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build-fuzz}
seconds=${2:-30}
targets=(fuzz_uuid fuzz_utf8 fuzz_text fuzz_keychain_query)

cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DQUORLEN_FUZZ=ON >/dev/null || exit 1
build=$(cd "$build" && pwd)
cmake --build "$build" -j"$(nproc)" --target fuzz_targets >"$build/fuzz-build.log" 2>&1 ||
  { tail -40 "$build/fuzz-build.log"; exit 1; }

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export LSAN_OPTIONS=suppressions=$top/tests/sanitizers/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# No session services picked up from the caller; the store target points its bus nowhere.
unset DISPLAY WAYLAND_DISPLAY

failed=()
for target in "${targets[@]}"; do
  name=${target#fuzz_}
  corpus=$build/fuzz-corpus/$name
  artifacts=$build/fuzz-artifacts/$name
  mkdir -p "$corpus" "$artifacts"
  echo "== $target: ${seconds}s"
  if ! "$build/tests/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$artifacts/" \
      "$corpus" "$top/tests/fuzz/corpus/$name" >"$artifacts/last.log" 2>&1; then
    failed+=("$target")
    tail -60 "$artifacts/last.log"
    echo "FAILED: $target; failing input in $artifacts/" >&2
  else
    grep -E '^(stat::number_of_executed_units|stat::new_units_added)' "$artifacts/last.log" |
      tr '\n' ' '
    echo
  fi
done

((${#failed[@]} == 0)) || { echo "fuzz targets failed: ${failed[*]}" >&2; exit 1; }
