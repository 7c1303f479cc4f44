#!/usr/bin/env bash
# Runs the README's Quick start on a fresh Debian 12 root, from a clone of this repository's HEAD:
# scripts/run.sh must open the window (on Xvfb here), scripts/test.sh must pass. Needs root and
# the network. Usage: check-quickstart.sh [run|test|package]...  (default: run test)
set -eu
cd "$(dirname "$0")/.."

if [ "${1:-}" != --inside ]; then
  bash scripts/install-deps.sh check
  exec shell/run_in_xvfb.sh unshare --mount --propagation private "$0" --inside "${@:-run test}"
fi
shift
steps=($*)
program=/src/build/shell/tessivane-seo
sample_source=$(realpath shell/sample_article.html)
. shell/gui_test_lib.sh
. scripts/fresh_root_lib.sh

make_fresh_root "$work/debootstrap.log"
git clone -q --no-hardlinks . "$root/src"
git -C "$root/src" checkout -q --detach "$(git rev-parse HEAD)"
echo "== the repository at $(git -C "$root/src" log --oneline -1)"

find_window() {
  win=$(xdotool search --onlyvisible --name TessivaneSEO 2>/dev/null | head -n1)
  [ -n "$win" ]
}
ended() { [ ! -d "/proc/$pid" ] || grep -q '^State:.*Z' "/proc/$pid/status"; }

for step in "${steps[@]}"; do
  echo "== scripts/$step.sh"
  start=$(date +%s)
  log=$work/$step.log
  in_root bash -c "cd /src && scripts/$step.sh" >"$log" 2>&1 &
  pid=$!
  started+=("$pid")
  if [ "$step" = run ]; then
    # Installing and building come first; the window is the end of the job.
    window_or_end() { find_window || ended; }
    poll 1800 window_or_end || true
    if find_window; then
      pass "run.sh opens the window, $(($(date +%s) - start)) s after it started"
      check "the left view paints the sample" poll 30 painted 10000 left_view_dark
      press_button
      check "a press paints the right view" poll 10 painted 10000 right_view_dark
      xdotool key Escape
      check "Esc closes the window and run.sh ends" poll 10 ended
    else
      fail "run.sh opens the window"
    fi
    in_root /src/build/cli/tessivane-shuffle --classic --seed 1000 /src/build/sample.html \
      >"$work/example.html" || true
    order=$(block_order "$work/example.html" || true)
    check "the README's example: --classic --seed 1000 build/sample.html gives 3124 ($order)" \
      [ "$order" = 3124 ]
  fi
  status=0
  wait "$pid" || status=$?
  tail -n 8 "$log" | sed 's/^/  /'
  check "scripts/$step.sh exits with status 0 ($status), after $(($(date +%s) - start)) s" \
    [ "$status" -eq 0 ]
  if [ "$step" = package ]; then
    has_package() { ls "$root"/src/tessivane-seo_*.deb >/dev/null 2>&1; }
    check "package.sh leaves the package" has_package
  fi
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
