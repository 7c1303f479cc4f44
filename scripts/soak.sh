#!/usr/bin/env bash
# Presses the window's button PRESSES times (default 2000) with real pointer clicks under Xvfb and
# fails if the memory or open file descriptors of the program and its WebKit processes keep growing.
# Builds nothing: run scripts/build.sh first. Usage: scripts/soak.sh [PRESSES]
set -eu
cd "$(dirname "$0")/.."
if [ "${1:-}" != --on-screen ]; then exec shell/run_in_xvfb.sh "$0" --on-screen "${1:-2000}"; fi
presses=$2
program=$(realpath "${BUILD_DIR:-build}/shell/tessivane-seo")
sample_source=$(realpath shell/sample_article.html)
. shell/gui_test_lib.sh

family() { echo "$pid" $(pgrep -P "$pid"); }
pss_mb() {  # Pss of the program and its helper processes, in MB
  local p
  for p in $(family); do awk '/^Pss:/ {print $2}' "/proc/$p/smaps_rollup"; done |
    awk '{s += $1} END {printf "%.1f", s / 1024}'
}
fds() {
  local p total=0
  for p in $(family); do total=$((total + $(ls "/proc/$p/fd" | wc -l))); done
  echo "$total"
}
# Waits until index.html has not changed for a second: the queued clicks are all handled.
settled() {
  local before
  before=$(stat -c %Y%N "$work/app/index.html" 2>/dev/null; stat -c %i "$work/app/index.html")
  sleep 1
  [ "$before" = "$(stat -c %Y%N "$work/app/index.html" 2>/dev/null; stat -c %i "$work/app/index.html")" ]
}

mkdir "$work/app"
cp "$program" "$work/app/"
start_program "$work/app"
poll 20 find_window && poll 20 painted 10000 left_view_dark || { echo "the window did not open"; exit 1; }

printf '%8s %10s %6s\n' presses "PSS (MB)" fds
done_presses=0
declare -A pss_at fds_at
while [ "$done_presses" -lt "$presses" ]; do
  xdotool mousemove --window "$win" 480 542 click --repeat 250 --delay 10 1
  done_presses=$((done_presses + 250))
  poll 60 settled
  pss_at[$done_presses]=$(pss_mb)
  fds_at[$done_presses]=$(fds)
  printf '%8d %10s %6s\n' "$done_presses" "${pss_at[$done_presses]}" "${fds_at[$done_presses]}"
done

kill -0 "$pid" || { echo "FAILED: the program died"; exit 1; }
order=$(block_order "$work/app/index.html") || { echo "FAILED: index.html is not a whole page"; exit 1; }
# The first 500 presses warm the caches; after that neither figure may keep growing.
base=500
growth=$(awk -v a="${pss_at[$base]}" -v b="${pss_at[$done_presses]}" 'BEGIN {printf "%.1f", b - a}')
fd_growth=$((fds_at[$done_presses] - fds_at[$base]))
echo "after $done_presses presses: PSS ${growth} MB and $fd_growth descriptors more than after $base; last order $order"
awk -v g="$growth" -v a="${pss_at[$base]}" 'BEGIN {exit !(g <= a * 0.10)}' ||
  { echo "FAILED: memory keeps growing"; exit 1; }
[ "$fd_growth" -le 2 ] || { echo "FAILED: descriptors keep growing"; exit 1; }
echo "soak passed"
