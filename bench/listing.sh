#!/usr/bin/env bash
# Times the store listing against secret-tool's search over the same keys, on a private
# gnome-keyring, and prints the ratio. Not a test: nothing fails on a slow figure.
#   bench/listing.sh BUILD_DIR ["SIZES"] [RUNS]   (sizes default to "100 1000")
set -euo pipefail
# shellcheck source=../tests/support/processes.sh
source "$(dirname "${BASH_SOURCE[0]}")/../tests/support/processes.sh"
build=$(cd "${1:?usage: listing.sh BUILD_DIR [SIZES] [RUNS]}" && pwd)
sizes=${2:-"100 1000"}
runs=${3:-20}
bench=$build/bench/listing_bench
[[ -x $bench ]] || { echo "missing $bench: build first" >&2; exit 2; }

work=$(mktemp -d /tmp/quorlen-bench.XXXXXX)
pids=()
cleanup() {
  stop_pids "${pids[@]}"
  rm -rf "$work"
}
trap cleanup EXIT

export HOME=$work/home XDG_RUNTIME_DIR=$work/run
mkdir -p "$HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY XDG_DATA_HOME XDG_CONFIG_HOME XDG_CACHE_HOME || true

cat >"$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$work/bus.socket</listen>
  <auth>EXTERNAL</auth>
  <!-- As a desktop session bus has them; the reference needs more than the default 128
       pending replies. -->
  <limit name="max_replies_per_connection">50000</limit>
  <limit name="max_match_rules_per_connection">50000</limit>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile 2>/dev/null &
pids+=($!)
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/bus.socket
wait_for dbus-send --session --dest=org.freedesktop.DBus --print-reply / \
  org.freedesktop.DBus.GetId >/dev/null 2>&1
gnome-keyring-daemon --foreground --unlock --components=secrets \
  <<<"quorlen-bench-keyring" >/dev/null 2>&1 &
pids+=($!)
wait_for sh -c "dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
  org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets | grep -q 'boolean true'"

median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }

# The reference: secret-tool's search over the same keys, timed around each process. Its
# output (which holds the placeholder secrets) goes nowhere.
reference() {
  local start end
  for _ in $(seq 1 "$runs"); do
    start=$(date +%s%N)
    secret-tool search --all service com.quorlen.safe.v1 >/dev/null 2>&1
    end=$(date +%s%N)
    echo "$(((end - start) / 1000))"
  done
}

# The listing timed as a process, so process start-up weighs on both sides alike.
process() {
  local start end
  for _ in $(seq 1 "$runs"); do
    start=$(date +%s%N)
    "$bench" list 1 >/dev/null
    end=$(date +%s%N)
    echo "$(((end - start) / 1000))"
  done
}

planted=0
for size in $sizes; do
  "$bench" plant $((size - planted))
  planted=$size
  "$bench" list "$runs" >"$work/ours.txt"
  count=$(awk 'NR==1 {print $1}' "$work/ours.txt")
  [[ $count == "$size" ]] || { echo "listing returned $count keys, expected $size" >&2; exit 1; }
  "$bench" floor "$runs" >"$work/floor.txt"
  reference >"$work/reference.txt"
  process >"$work/process.txt"

  ours=$(awk '{print $2}' "$work/ours.txt" | median)
  floor=$(awk '{print $2}' "$work/floor.txt" | median)
  ours_process=$(awk '{print $1 / 1000}' "$work/process.txt" | median)
  ref=$(awk '{print $1 / 1000}' "$work/reference.txt" | median)
  awk -v keys="$size" -v runs="$runs" -v ours="$ours" -v proc="$ours_process" -v ref="$ref" \
    -v floor="$floor" 'BEGIN {
    printf "%d keys, %d runs each (medians)\n", keys, runs
    printf "  listing, in process             %9.2f ms\n", ours
    printf "  bare D-Bus floor, in process    %9.2f ms\n", floor
    printf "  listing, whole process          %9.2f ms\n", proc
    printf "  secret-tool search --all        %9.2f ms\n", ref
    printf "  listing / secret-tool (processes)  %.2f x   (target <= 0.1)\n", proc / ref
    printf "  listing / floor (in process)       %.2f x   (target <= 3)\n", ours / floor
  }'
done
