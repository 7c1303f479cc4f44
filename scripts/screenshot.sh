#!/usr/bin/env bash
# Saves a picture of the built program's window after one press of its button (docs/window.png).
# Builds nothing: run scripts/build.sh first. Usage: screenshot.sh [OUTPUT.png]
set -eu
cd "$(dirname "$0")/.."

if [ "${1:-}" != "--on-screen" ]; then
  output=$(realpath -m "${1:-docs/window.png}")
  mkdir -p "$(dirname "$output")"
  exec shell/run_in_xvfb.sh "$0" --on-screen "$output"
fi
output=$2
program=${BUILD_DIR:-build}/shell/tessivane-seo
[ -x "$program" ] || { echo "no $program: build first" >&2; exit 1; }

work=$(mktemp -d)
pid=""
cleanup() {
  [ -z "$pid" ] || { pkill -P "$pid" 2>/dev/null; kill "$pid" 2>/dev/null; wait "$pid"; } || true
  rm -rf "$work"
}
trap cleanup EXIT

# Waits up to 20 s for COMMAND to succeed.
poll() {
  for _ in $(seq 200); do "$@" && return 0; sleep 0.1; done
  return 1
}
# Succeeds once the view at X Y WIDTH HEIGHT of the window shows a page of text.
shows_text() {
  import -window "$win" "$work/shot.png" 2>/dev/null || return 1
  [ "$(convert "$work/shot.png" -crop "$3x$4+$1+$2" +repage -colorspace Gray -threshold 50% \
    -format '%[fx:int(w*h*(1-mean))]' info:)" -gt 10000 ]
}
find_window() {
  win=$(xdotool search --onlyvisible --pid "$pid" --name TessivaneSEO 2>/dev/null | head -n1)
  [ -n "$win" ]
}

cp "$program" "$work/"
mkdir "$work/home"
HOME="$work/home" XDG_RUNTIME_DIR="$work/home" LANG=C.UTF-8 NO_AT_BRIDGE=1 \
  "$work/tessivane-seo" >/dev/null 2>&1 &
pid=$!
poll find_window
poll shows_text 8 8 464 515
xdotool mousemove --window "$win" 480 542 click 1
poll shows_text 496 8 488 515
import -window "$win" "$output"
echo "saved $output"
