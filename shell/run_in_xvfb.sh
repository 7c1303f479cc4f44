#!/usr/bin/env bash
# Runs a command on a private Xvfb screen of 1920 x 1080 and returns its status.
set -eu

scratch=$(mktemp -d)
xvfb_pid=""
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number once it accepts connections.
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$scratch/display" \
  >"$scratch/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 200); do
  [ -s "$scratch/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { cat "$scratch/xvfb.log" >&2; exit 1; }
  sleep 0.05
done
[ -s "$scratch/display" ] || { echo "Xvfb did not start" >&2; exit 1; }

status=0
DISPLAY=":$(head -n1 "$scratch/display")" "$@" || status=$?
exit "$status"
