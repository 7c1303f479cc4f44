#!/usr/bin/env bash
# Drives the built program as a person would: window_gui_test.sh PROGRAM SAMPLE_SOURCE
# Needs DISPLAY on a 1920 x 1080 screen with no window manager; run it through run_in_xvfb.sh.
# SAMPLE_SOURCE is the UTF-8 sample, one block per line, that the program carries as GBK.
set -eu

program=$(realpath "$1")
sample_source=$(realpath "$2")
title="TessivaneSEO伪原创工具 v1.0"
. "$(dirname "$0")/gui_test_lib.sh"

echo "== the window in a writable folder"
app="$work/app"
mkdir "$app"
cp "$program" "$app/"
start_program "$app"
if ! poll 20 find_window; then
  fail "the window opens"
  exit 1
fi
pass "the window opens, $(($(now_ms) - start_ms)) ms after start"
check "its title" [ "$(xprop -id "$win" -notype _NET_WM_NAME)" = "_NET_WM_NAME = \"$title\"" ]

geometry=$(xwininfo -id "$win")
field() { awk -F: -v name="$1" '$1 ~ name {gsub(/ /, "", $2); print $2}' <<<"$geometry"; }
check "997 x 590 at 461, 245" [ "$(field 'Absolute upper-left X') $(field 'Absolute upper-left Y') \
$(field '^ *Width') $(field '^ *Height')" = "461 245 997 590" ]

hints=$(xprop -id "$win" WM_NORMAL_HINTS)
check "cannot be resized" grep -q "minimum size: 997 by 590" <<<"$hints"
check "cannot be resized (maximum)" grep -q "maximum size: 997 by 590" <<<"$hints"
read -r motif_flags functions decorations < <(xprop -id "$win" -notype _MOTIF_WM_HINTS |
  sed 's/.*= //; s/,/ /g' | awk '{print $1, $2, $3}')
check "frame functions: move and close only" \
  [ $((motif_flags & 3)) -eq 3 -a $((functions & 63)) -eq $((4 | 32)) ]
check "frame decorations: caption and menu, no minimise or maximise" \
  [ $((decorations & (8 | 16))) -eq 24 -a $((decorations & (1 | 4 | 32 | 64))) -eq 0 ]
check "its own taskbar entry, not kept above" bash -c "
  xprop -id $win WM_TRANSIENT_FOR | grep -q 'not found' &&
  xprop -id $win _NET_WM_WINDOW_TYPE | grep -q _NET_WM_WINDOW_TYPE_NORMAL &&
  ! xprop -id $win _NET_WM_STATE | grep -qE 'ABOVE|SKIP_TASKBAR'"
icons=$(xprop -id "$win" _NET_WM_ICON | grep -o 'Icon ([0-9]* x [0-9]*)' | tr '\n' ' ')
check "icons at 32 and 16 ($icons)" [ "$icons" = "Icon (32 x 32) Icon (16 x 16) " ]

check "backup.html is the sample, byte for byte" cmp "$app/backup.html" "$work/expected_backup.html"
check "backup.html: 2009 bytes with 3 CR LF" [ "$(stat -c %s "$app/backup.html")" -eq 2009 -a \
  "$(LC_ALL=C grep -c $'\r$' "$app/backup.html")" -eq 3 ]
check "no index.html before a press" [ ! -e "$app/index.html" ]

if poll 20 painted 10000 left_view_dark; then
  pass "the left view paints the sample, $(($(now_ms) - start_ms)) ms after start"
else
  fail "the left view paints the sample"
fi
check "the right view is blank before a press" [ "$(right_view_dark)" -eq 0 ]

press_ms=$(now_ms)
press_button
check "a press writes index.html" poll 5 test -s "$app/index.html"
first_order=$(block_order "$app/index.html" || true)
check "index.html is the four blocks in some order ($first_order)" [ ${#first_order} -eq 4 ]
check "index.html: 2003 bytes, no CR or LF" [ "$(stat -c %s "$app/index.html")" -eq 2003 -a \
  "$(tr -cd '\r\n' <"$app/index.html" | wc -c)" -eq 0 ]
if poll 10 painted 10000 right_view_dark; then
  pass "the right view paints the shuffle, $(($(now_ms) - press_ms)) ms after the press"
else
  fail "the right view paints the shuffle"
fi
check "both views share one web process" [ "$(pgrep -c -P "$pid" WebKitWebProces)" -eq 1 ]
echo "memory: $(program_pss_kb) kB PSS, program and its WebKit processes"

orders=("$first_order")
for press in 1 2 3 4 5 6 7; do
  rm -f "$app/index.html"
  press_button
  if poll 5 test -s "$app/index.html" && order=$(block_order "$app/index.html"); then
    orders+=("$order")
  else
    fail "press $press rewrites index.html as the four blocks"
  fi
done
distinct=$(printf '%s\n' "${orders[@]}" | sort -u | wc -l)
check "eight presses, each rewriting index.html, draw varied orders (${orders[*]})" \
  [ "${#orders[@]}" -eq 8 -a "$distinct" -ge 2 ]

# The last click left the focus on the button.
xdotool key Escape
if poll 5 bash -c "! kill -0 $pid 2>/dev/null"; then
  status=0
  wait "$pid" || status=$?
  check "Esc on the button ends the program with status 0 (got $status)" [ "$status" -eq 0 ]
else
  fail "Esc on the button ends the program"
fi

echo "== the window in a folder it cannot write"
# No backup.html, and an older index.html that the program could write in place: only the folder
# is read-only. Root writes anywhere, so then the program runs as nobody, who owns that page.
locked="$work/locked"
mkdir "$locked"
cp "$program" "$locked/"
old_page='<P>an older page</P>'
printf '%s' "$old_page" >"$locked/index.html"
runner=()
if [ "$(id -u)" -eq 0 ]; then
  chown nobody:nogroup "$locked" "$locked/index.html"
  runner=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
chmod 555 "$locked"
start_program "$locked" "${runner[@]}"
if ! poll 20 find_window; then
  fail "the window opens"
  exit 1
fi
pass "the window opens"
check "the left view shows the view's own page for the missing file" poll 20 painted 100 left_view_dark
check "the right view is blank before a press" [ "$(right_view_dark)" -eq 0 ]
press_button
check "a press paints the right view (the older index.html)" poll 10 painted 100 right_view_dark
check "index.html keeps its old content" [ "$(cat "$locked/index.html")" = "$old_page" ]
check "the program still runs" kill -0 "$pid"
check "no message window: the program shows one window" \
  [ "$(xdotool search --onlyvisible --pid "$pid" --name . | wc -l)" -eq 1 ]

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
