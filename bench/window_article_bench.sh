#!/usr/bin/env bash
# Times the window with large articles of its own, from outside: start to painted, a press to
# index.html written and to the right view painted, and the memory of the program and its WebKit
# processes. bench/window_article_bench.sh [BUILD_DIR] [SIZE...] (sizes in bytes, default 4 MiB
# and just under the 16 MiB the window opens). Runs itself on a private Xvfb screen.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
if [ "${1:-}" != --on-screen ]; then
  exec "$here/../shell/run_in_xvfb.sh" "$0" --on-screen "$@"
fi
shift
build=$(realpath "${1:-$here/../build}")
[ $# -gt 0 ] && shift
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=($((4 << 20)) $(((16 << 20) - 4096)))
program=$build/shell/tessivane-seo
maker=$build/bench/make_bench_article
sample_source=$here/../shell/sample_article.html
. "$here/../shell/gui_test_lib.sh"
. "$here/../shell/gui_test_args.sh"

mkdir "$work/app"
cp "$program" "$work/app/"
echo "article | start to window | start to left painted | press to index.html | press to right painted | PSS"
for size in "${sizes[@]}"; do
  "$maker" word "$size" "$work/article.html"
  start_with "$work/app" "$work/article.html"
  poll 30 find_window
  mapped=$(($(now_ms) - start_ms))
  poll 60 painted 3000 left_view_dark
  left=$(($(now_ms) - start_ms))
  rm -f "$work/app/index.html"
  pressed=$(now_ms)
  press_button
  poll 60 test -s "$work/app/index.html"
  written=$(($(now_ms) - pressed))
  poll 60 painted 3000 right_view_dark
  right=$(($(now_ms) - pressed))
  echo "$(stat -c %s "$work/article.html") bytes | $mapped ms | $left ms | $written ms | $right ms | $(program_pss_kb) kB"
  stop_program
done
echo "(times include xdotool and the 50 ms polls of screenshots; load: $(cut -d' ' -f1-3 /proc/loadavg))"
