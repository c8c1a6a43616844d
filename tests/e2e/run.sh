#!/usr/bin/env bash
# The end-to-end tier: the installed program, run as the test user in a real desktop
# session, driven through its accessibility tree and the X server.
#   run.sh BUILD_DIR [--update-docs] [NAME_PATTERN]
# Each kind of session the tests need (see runner.py) is built once by harness.sh. Ends
# with "e2e: N passed, M failed" and a non-zero status when anything failed. Screenshots
# go to tests/out/e2e/; --update-docs also copies them to docs/.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)

if (($# < 1)); then
  echo "usage: $0 BUILD_DIR [--update-docs] [NAME_PATTERN]" >&2
  exit 2
fi
build=$1
shift
update_docs=0
if [[ ${1:-} == --update-docs ]]; then
  update_docs=1
  shift
fi
pattern=${1:-}

"$root/tests/support/deps.sh"

out=$root/tests/out/e2e
rm -rf "$out"
mkdir -p "$out"

passed=0
failed=0
for session in normal without-polkit; do
  options=()
  [[ $session == without-polkit ]] && options=(--without-polkit)
  results=$out/results-$session
  echo "== e2e session: $session"
  set +e
  QUORLEN_E2E_OUT=$out "$here/harness.sh" "${options[@]}" "$build" -- \
    /usr/bin/python3 "$here/runner.py" --session "$session" --results "$results" "$pattern"
  status=$?
  set -e
  if [[ -s $results ]]; then
    read -r p f <"$results"
    passed=$((passed + p))
    failed=$((failed + f))
  elif ((status != 0)); then
    echo "e2e: the $session session did not come up (status $status)" >&2
    failed=$((failed + 1))
  fi
done

if ((update_docs)); then
  for picture in window unavailable; do
    if [[ -f $out/$picture.png ]]; then
      cp "$out/$picture.png" "$root/docs/$picture.png"
    else
      echo "e2e: no $picture.png to copy" >&2
      failed=$((failed + 1))
    fi
  done
fi

echo "e2e: $passed passed, $failed failed"
((failed == 0))
