#!/usr/bin/env bash
# Times the layout-keeping shuffle on files against the floor of `cat FILE > OUT` and reports its
# peak memory: Word-like articles of 100 KB to 100 MB and the hostile shapes, generated under
# BUILD_DIR/bench-data. Usage: bench/layout_bench.sh [BUILD_DIR] [RUNS] [SIZES...]
set -eu
build=${1:-build}
runs=${2:-5}
shift 2 || shift $# || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(100000 1000000 10000000 100000000)
data=$build/bench-data
mkdir -p "$data"
maker=$build/bench/make_bench_article
driver=$build/bench/layout_file_bench

files=()
for size in "${sizes[@]}"; do
  files+=("word:$size")
done
biggest=${sizes[${#sizes[@]}-1]}
files+=("dense:$biggest" "open:$biggest" "nested:$biggest")

median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }
now() { local t=$EPOCHREALTIME; echo "${t/./}"; }  # microseconds

printf '%-18s %10s %9s %10s %6s %11s %9s %6s\n' file bytes "cat ms" "total ms" ratio \
  "shuffle ms" "RSS MB" "RSS/in"
for entry in "${files[@]}"; do
  kind=${entry%%:*} size=${entry#*:}
  file=$data/$kind-$size.html
  [ -s "$file" ] || "$maker" "$kind" "$size" "$file"
  cat "$file" >"$data/out.html"  # warm the page cache
  cats=() totals=() shuffles=() rss=0
  for _ in $(seq "$runs"); do
    start=$(now); cat "$file" >"$data/out.html"; end=$(now)
    cats+=($(( end - start )))
    start=$(now); read -r shuffle_ms rss < <("$driver" "$file" "$data/out.html"); end=$(now)
    totals+=($(( end - start ))) shuffles+=("$shuffle_ms")
  done
  awk -v name="$kind-$size" -v bytes="$(stat -c %s "$file")" -v cat_us="$(median "${cats[@]}")" \
    -v total_us="$(median "${totals[@]}")" -v shuffle_ms="$(median "${shuffles[@]}")" \
    -v rss_kb="$rss" 'BEGIN {
      printf "%-18s %10d %9.1f %10.1f %5.1fx %11.1f %9.1f %6.2f\n", name, bytes, cat_us / 1000,
        total_us / 1000, total_us / cat_us, shuffle_ms, rss_kb / 1024, rss_kb * 1024 / bytes }'
done
rm -f "$data/out.html"
