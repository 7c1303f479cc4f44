#!/usr/bin/env bash
# Times the window program and weighs its memory from outside, over many fresh starts.
#   bench/window_bench.sh [BUILD_DIR] [RUNS] [PRESSES] [PROGRAM]
# Needs BUILD_DIR/bench/window_probe and PROGRAM, a path inside BUILD_DIR: shell/tessivane-seo by
# default, or bench/window_floor (with 0 presses) for what one bare view costs. Runs itself on a
# private Xvfb screen; each run starts a copy of the program in a fresh folder with a home of its own,
# and window_probe reads the screen's pixels to time it. Prints median, min and max of each
# figure against its goal. Other programs on the machine slow the times: see the load printed.
# WINDOW_BENCH_ENV may hold extra NAME=VALUE words for the program's environment, to try tunings.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-$here/../build}")
runs=${2:-12}
presses=${3:-6}
program_path=${4:-shell/tessivane-seo}
program="$build/$program_path"
probe="$build/bench/window_probe"
for f in "$program" "$probe"; do
  [ -x "$f" ] || { echo "missing $f: build it and the window_probe target" >&2; exit 1; }
done
if [ -z "${WINDOW_BENCH_ON_XVFB:-}" ]; then
  WINDOW_BENCH_ON_XVFB=1 exec "$here/../shell/run_in_xvfb.sh" "$0" "$build" "$runs" "$presses" \
    "$program_path"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"

# Another instance would share its pages with ours and make our PSS look smaller.
others() { echo $(($(pgrep -c -x tessivane-seo || true) + $(pgrep -c '^WebKit' || true))); }

for run in $(seq "$runs"); do
  for _ in $(seq 60); do [ "$(others)" -eq 0 ] && break; sleep 1; done
  dir="$work/run$run"
  mkdir -p "$dir/app" "$dir/home"
  chmod 700 "$dir/home"
  cp "$program" "$dir/app/"
  if (cd "$dir" && env -i PATH=/usr/bin:/bin DISPLAY="$DISPLAY" LANG=C.UTF-8 HOME="$dir/home" \
    XDG_RUNTIME_DIR="$dir/home" XDG_CACHE_HOME="$dir/home/cache" \
    XDG_DATA_HOME="$dir/home/data" XDG_CONFIG_HOME="$dir/home/config" ${WINDOW_BENCH_ENV:-} \
    "$probe" "$presses" "$dir/app/$(basename "$program")" >"$work/out$run" 2>"$work/err$run"); then
    :
  else
    echo "run $run failed: $(cat "$work/err$run")" >&2
  fi
  sleep 0.5
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

# Memory counts only from runs that no other instance shared pages with, when there are any.
weighed=$(grep -L -E '^(last_)?others [1-9]' "$work"/out* || true)
[ -n "$weighed" ] || weighed=$(ls "$work"/out*)

# Every value of KEY across the runs, one a line; with WEIGHED set, only from the weighed runs.
values() {
  local files=("$work"/out*)
  [ -z "${WEIGHED:-}" ] || read -r -d '' -a files <<<"$weighed" || true
  cat "${files[@]}" | awk -v key="$1" '$1 ~ "^(" key ")$" && $2 != "same" {print $2}'
}
# Median, min and max of the numbers on standard input.
stats() {
  sort -g | awk '{v[NR] = $1} END {
    if (NR == 0) { print "-", "-", "-", 0; exit }
    m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    print m, v[1], v[NR], NR }'
}
row() {  # row LABEL KEY SCALE GOAL UNIT
  read -r median min max n < <(values "$2" | awk -v s="$3" '{printf "%.1f\n", $1 * s}' | stats)
  local verdict="-"
  [ "$4" = "-" ] || [ "$median" = "-" ] || verdict=$(awk -v m="$median" -v g="$4" 'BEGIN {print (m != "-" && m <= g) ? "met" : "MISSED"}')
  printf '%-34s %9s %9s %9s %4s %9s %6s\n' "$1" "$median" "$min" "$max" "$n" "$4 $5" "$verdict"
}

printf '\n%-34s %9s %9s %9s %4s %9s %6s\n' figure median min max n goal ""
row "start to window mapped (ms)" mapped_ms 1 - ""
row "start to left view painted (ms)" left_ms 1 400 ms
row "first press to right painted (ms)" press1_ms 1 30 ms
row "later presses to right painted (ms)" 'press([2-9]|[1-9][0-9]+)_ms' 1 30 ms
WEIGHED=1 row "PSS after first press (MB)" pss_kb 0.001024 150 MB
WEIGHED=1 row "  of which Pss_Anon (MB)" pss_anon_kb 0.001024 45 MB
WEIGHED=1 row "  of which Pss_Shmem (MB)" pss_shmem_kb 0.001024 - ""
WEIGHED=1 row "PSS after the last press (MB)" last_pss_kb 0.001024 - ""
WEIGHED=1 row "  of which Pss_Anon (MB)" last_pss_anon_kb 0.001024 - ""
echo
# By process after the first press, or at the end when there was no press.
proc=proc
grep -q '^proc ' $weighed || proc=last_proc
echo "PSS by process, median MB (Pss / Pss_Anon):"
cat $weighed | awk -v p=$proc '$1 == p {print $2}' | sort -u | while read -r name; do
  pss=$(cat $weighed | awk -v p=$proc -v n="$name" '$1 == p && $2 == n {printf "%.1f\n", $4 * 0.001024}' | stats)
  anon=$(cat $weighed | awk -v p=$proc -v n="$name" '$1 == p && $2 == n {printf "%.1f\n", $5 * 0.001024}' | stats)
  printf '  %-24s %8s / %s\n' "$name" "${pss%% *}" "${anon%% *}"
done
echo "memory from $(wc -w <<<"$weighed") of $runs runs (those with no other instance running)"
echo "left view dark pixels (median): $(values left_dark | stats | cut -d' ' -f1)"
