#!/usr/bin/env bash
# Times tessivane-shuffle -d on a folder of articles against cp -r of the same folder, in one run.
#   bench/batch_bench.sh [BUILD_DIR] [ARTICLES] [RUNS] [-- EXTRA OPTIONS...]
# Writes ARTICLES (default 10000) HTML articles of 2 to 20 KB (UTF-8 and GBK, a few paragraphs
# each inside a page) into a scratch folder, then alternates `cp -r` and `tessivane-shuffle -d`
# of that folder into fresh folders RUNS times (default 5), with warm caches, and prints the
# median, min and max of each and their ratio. The goal is a ratio of at most 2.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-$here/../build}")
articles=${2:-10000}
runs=${3:-5}
shift $(( $# < 3 ? $# : 3 ))
[ "${1:-}" = "--" ] && shift
program="$build/cli/tessivane-shuffle"
[ -x "$program" ] || { echo "missing $program: build it first" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/batch_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/in"

# Articles: a page head, a heading, then paragraphs of Chinese text (some inside a wrapper div)
# up to a size drawn from 2 to 20 KB; every tenth article in GBK with its charset declared.
awk -v n="$articles" -v dir="$work/in" 'BEGIN {
  srand(1)
  split("云计算 让 企业 更快 地 部署 应用 数据 安全 与 隐私 同样 重要 网站 优化 需要 持续 投入，", words, " ")
  for (i = 0; i < n; i++) {
    file = sprintf("%s/%02d/article%05d.html", dir, i % 50, i)
    if (i % 50 == i) system("mkdir -p " dir sprintf("/%02d", i))
    target = 2048 + int(rand() * 18432)
    page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Article " i "</title></head>\n<body>\n<h1>Article " i "</h1>\n"
    p = 0
    while (length(page) < target) {
      text = ""
      for (w = 0; w < 20 + int(rand() * 60); w++) text = text words[1 + int(rand() * 19)]
      text = text "。"
      para = "<p>" p ": " text "</p>\n"
      if (p % 7 == 3) para = "<div class=\"box\">\n" para "</div>\n"
      page = page para
      p++
    }
    printf "%s</body></html>\n", page > file
    close(file)
  }
}'
# Every tenth article re-encoded as GBK, declared so.
find "$work/in" -name 'article???[0]0.html' | while read -r f; do
  sed 's/charset="utf-8"/charset="gbk"/' "$f" | iconv -f UTF-8 -t GBK > "$f.gbk" && mv "$f.gbk" "$f"
done
bytes=$(du -sb "$work/in" | cut -f1)
echo "articles: $articles in 50 folders, $((bytes / 1024 / 1024)) MB; $(nproc) cores;" \
  "load before: $(cut -d' ' -f1-3 /proc/loadavg)"

seconds() {  # runs "$@", prints its wall time in seconds
  local start end
  start=$(date +%s%N)
  "$@"
  end=$(date +%s%N)
  echo "scale=3; ($end - $start) / 1000000000" | bc
}
stats() {  # median min max of the numbers on stdin
  sort -n | awk '{ v[NR] = $1 } END { printf "%.3f %.3f %.3f\n", v[int((NR + 1) / 2)], v[1], v[NR] }'
}

copy_times=() shuffle_times=()
for run in $(seq "$runs"); do
  rm -rf "$work/copy" "$work/out"
  sync
  copy_times+=("$(seconds cp -r "$work/in" "$work/copy")")
  shuffle_times+=("$(seconds "$program" -d "$work/out" "$work/in" "$@" 2>/dev/null)")
done
[ "$(find "$work/out" -type f | wc -l)" -eq "$articles" ] || { echo "not every article was written" >&2; exit 1; }

read -r copy_median copy_min copy_max < <(printf '%s\n' "${copy_times[@]}" | stats)
read -r shuffle_median shuffle_min shuffle_max < <(printf '%s\n' "${shuffle_times[@]}" | stats)
printf '%-34s median %6.3f s  (min %.3f, max %.3f)\n' "cp -r" "$copy_median" "$copy_min" "$copy_max"
printf '%-34s median %6.3f s  (min %.3f, max %.3f)\n' "tessivane-shuffle -d ${*:-}" \
  "$shuffle_median" "$shuffle_min" "$shuffle_max"
printf 'ratio: %.2fx (goal: at most 2x); %.0f articles/s\n' \
  "$(echo "$shuffle_median / $copy_median" | bc -l)" "$(echo "$articles / $shuffle_median" | bc -l)"
