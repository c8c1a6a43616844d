# Shell helpers for the test and bench scripts; source it.

# Runs the command every 0.1 s until it succeeds; gives up after 10 s.
wait_for() {
  for _ in $(seq 1 100); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  echo "timed out waiting for: $*" >&2
  return 1
}

# Stops each process id given: SIGTERM, up to 5 s to end, then SIGKILL.
stop_pids() {
  local pid
  for pid in "$@"; do kill "$pid" 2>/dev/null || true; done
  for pid in "$@"; do
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  done
}
