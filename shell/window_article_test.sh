#!/usr/bin/env bash
# Opens the user's own articles in the window as a person would, and starts it in unusual
# places: window_article_test.sh PROGRAM SAMPLE_SOURCE ARTICLE_PAGE XDND_DROP
# Needs DISPLAY on a 1920 x 1080 screen with no window manager; run it through run_in_xvfb.sh.
# ARTICLE_PAGE is a UTF-8 page without a charset declaration whose corner mark turns green when
# the view has read its text in the right encoding, red otherwise. XDND_DROP drops files onto a
# window from outside, as a file manager does.
set -eu

program=$(realpath "$1")
sample_source=$(realpath "$2")
article_page=$(realpath "$3")
xdnd_drop=$(realpath "$4")
. "$(dirname "$0")/gui_test_lib.sh"
. "$(dirname "$0")/gui_test_args.sh"

green='0,170,0'
left_mark() { colour_at 20 20 16; }
right_mark() { colour_at 508 20 16; }
left_mark_green() { [ "$(left_mark)" = "$green" ]; }
right_mark_green() { [ "$(right_mark)" = "$green" ]; }
open_window() {
  poll 20 find_window || { fail "the window opens"; cat "$home/output"; exit 1; }
}
focus_window() { xdotool windowfocus --sync "$1"; }
one_window() { [ "$(visible_windows)" -eq 1 ]; }

# Whether FILE is ARTICLE with its paragraph lines (those starting "<p>") in some order and every
# other line in place; prints the order of the paragraphs ("314265").
layout_kept() {
  local file=$1 article=$2 line
  export LC_ALL=C
  [ "$(stat -c %s "$file")" -eq "$(stat -c %s "$article")" ] || return 1
  cmp -s <(grep -vn '^<p>' "$file") <(grep -vn '^<p>' "$article") || return 1
  cmp -s <(grep '^<p>' "$file" | sort) <(grep '^<p>' "$article" | sort) || return 1
  grep '^<p>' "$file" | while IFS= read -r line; do
    grep '^<p>' "$article" | grep -nxF -- "$line" | cut -d: -f1
  done | tr -d '\n'
}

app="$work/app"
mkdir "$app"
cp "$program" "$app/"
cp "$article_page" "$work/article.html"

echo "== a UTF-8 page given at start"
start_with "$app" "$work/article.html"
open_window
check "backup.html is the page's own bytes" cmp "$app/backup.html" "$work/article.html"
check "the left view reads it as UTF-8 (mark green)" poll 20 left_mark_green
check "the left view paints the page" poll 20 painted 3000 left_view_dark
check "the right view is blank before a press" [ "$(right_view_dark)" -eq 0 ]
focus_window "$win"
xdotool key ctrl+s
check "Ctrl+S before a press: a message, nothing to save yet" \
  poll 10 find_dialog 'TessivaneSEO伪原创工具 v1.0'
xdotool key Return
check "the message closes" poll 5 one_window
orders=()
for press in 1 2 3 4 5 6; do
  rm -f "$app/index.html"
  press_button
  if poll 5 test -s "$app/index.html" && order=$(layout_kept "$app/index.html" "$work/article.html"); then
    orders+=("$order")
  else
    fail "press $press writes index.html as the page with its paragraphs in some order"
  fi
done
check "each press writes the page with only its paragraphs moved (${orders[*]})" [ ${#orders[@]} -eq 6 ]
check "the presses draw varied orders" [ "$(printf '%s\n' "${orders[@]}" | sort -u | wc -l)" -ge 2 ]
check "index.html is UTF-8" iconv -f UTF-8 -t UTF-8 -o /dev/null "$app/index.html"
check "the right view reads it as UTF-8 (mark green)" poll 10 right_mark_green

echo "== Ctrl+S saves the right view's page"
focus_window "$win"
xdotool key ctrl+s
if poll 10 find_dialog '保存打乱后的页面'; then
  pass "Ctrl+S opens a save dialog"
  xdotool key ctrl+a
  xdotool type --delay 20 "$work/saved.html"
  xdotool key Return
  check "the page is saved where typed" poll 10 test -s "$work/saved.html"
  check "the saved page is the right view's index.html" cmp "$work/saved.html" "$app/index.html"
  check "the dialog closes" poll 5 one_window
else
  fail "Ctrl+S opens a save dialog"
fi

echo "== Ctrl+O opens a GBK article through the chooser"
iconv -f UTF-8 -t GBK "$work/article.html" >"$work/gbk-article.html"
focus_window "$win"
xdotool key ctrl+o
if poll 10 find_dialog '打开文章'; then
  pass "Ctrl+O opens a file chooser"
  xdotool key ctrl+l
  xdotool type --delay 20 "$work/gbk-article.html"
  xdotool key Return
  check "backup.html becomes the GBK article's own bytes" \
    poll 10 cmp -s "$app/backup.html" "$work/gbk-article.html"
  check "the chooser closes" poll 5 one_window
  check "the left view reads it in its encoding (mark green)" poll 20 left_mark_green
  right_blank() { [ "$(right_view_dark)" -eq 0 ]; }
  check "the right view is blank until the next press" poll 10 right_blank
  rm -f "$app/index.html"
  press_button
  poll 5 test -s "$app/index.html" || true
  order=$(layout_kept "$app/index.html" "$work/gbk-article.html" || true)
  check "index.html is the GBK article with its paragraphs in some order ($order)" [ ${#order} -eq 6 ]
  check "the right view reads it in its encoding (mark green)" poll 10 right_mark_green
else
  fail "Ctrl+O opens a file chooser"
fi

echo "== a file that cannot be opened keeps the article"
printf '<p>\x80\xff not text</p>' >"$work/broken.html"
cp "$app/backup.html" "$work/backup.before"
focus_window "$win"
xdotool key ctrl+o
if poll 10 find_dialog '打开文章'; then
  xdotool key ctrl+l
  xdotool type --delay 20 "$work/broken.html"
  xdotool key Return
  check "a message window says why" poll 10 find_dialog 'TessivaneSEO伪原创工具 v1.0'
  check "backup.html keeps the article it had" cmp "$app/backup.html" "$work/backup.before"
  xdotool key Return
  check "the message closes" poll 5 one_window
  rm -f "$app/index.html"
  press_button
  poll 5 test -s "$app/index.html" || true
  order=$(layout_kept "$app/index.html" "$work/gbk-article.html" || true)
  check "a press still shuffles the article it had ($order)" [ ${#order} -eq 6 ]
else
  fail "Ctrl+O opens a file chooser"
fi
stop_program

echo "== an unreadable FILE at start: the sample, and a message"
start_with "$app" "$work/no-such-article.html"
open_window
check "a message window says why" poll 10 find_dialog 'TessivaneSEO伪原创工具 v1.0'
check "backup.html is the sample" cmp "$app/backup.html" "$work/expected_backup.html"
stop_program

echo "== files dropped on the window and on either view"
start_with "$app"
open_window
check "the left view paints the sample" poll 20 painted 10000 left_view_dark
for place in "left view:100 100" "right view:700 100" "window beside the button:200 560"; do
  where=${place%%:*}
  dropped="$work/dropped-${where// /-}.html"
  { cat "$work/article.html"; echo "<!-- dropped on the $where -->"; } >"$dropped"
  if "$xdnd_drop" "$win" ${place#*:} "file://$dropped"; then
    pass "a drop on the $where is taken"
  else
    fail "a drop on the $where is taken"
  fi
  check "the file dropped on the $where becomes the article" poll 5 cmp -s "$app/backup.html" "$dropped"
  check "the left view shows it, read as UTF-8 (mark green)" poll 20 left_mark_green
done
check "no message window" one_window
rm -f "$app/index.html"
press_button
poll 5 test -s "$app/index.html" || true
order=$(layout_kept "$app/index.html" "$work/dropped-window-beside-the-button.html" || true)
check "a press shuffles the dropped article ($order)" [ ${#order} -eq 6 ]
check "a dropped web address is refused" bash -c "! '$xdnd_drop' $win 100 100 http://example.com/a.html 2>/dev/null"
check "a message says so" poll 10 find_dialog 'TessivaneSEO伪原创工具 v1.0'
check "the article stays" cmp -s "$app/backup.html" "$work/dropped-window-beside-the-button.html"
stop_program

for name in gbk ff; do
  if [ "$name" = gbk ]; then folder="$work/$(printf '文章' | iconv -f UTF-8 -t GBK)"; else folder="$work/$(printf 'pages\xff')"; fi
  echo "== a folder whose name is not UTF-8 ($name)"
  mkdir "$folder"
  cp "$program" "$folder/"
  start_with "$folder"
  open_window
  check "the left view paints the sample" poll 20 painted 10000 left_view_dark
  press_button
  check "a press writes index.html there" poll 5 test -s "$folder/index.html"
  check "the right view paints the shuffle" poll 10 painted 10000 right_view_dark
  stop_program
done

echo "== --pages-dir"
pages="$work/pages"
mkdir "$pages"
start_with "$app" --pages-dir "$pages" "$work/article.html"
open_window
check "backup.html goes to the pages folder" poll 5 cmp -s "$pages/backup.html" "$work/article.html"
check "the left view paints it" poll 20 left_mark_green
press_button
check "index.html goes to the pages folder" poll 5 test -s "$pages/index.html"
stop_program

echo "== stale temporary files after kill -9"
start_with "$app" --pages-dir "$pages"
open_window
for _ in $(seq 30); do press_button; done
kill -KILL "$pid"
stop_program
left=$(ls -A "$pages" | grep '^\.tessivane-' || true)
echo "left by the kill: ${left:-none}"
for t in $left; do touch -d '-5 minutes' "$pages/$t"; done
printf x >"$pages/.tessivane-A1b2C3"
touch -d '-5 minutes' "$pages/.tessivane-A1b2C3"
printf x >"$pages/.tessivane-Z9y8X7"
printf 'mine' >"$pages/.tessivane-notes.txt"
touch -d '-5 minutes' "$pages/.tessivane-notes.txt"
start_with "$app" --pages-dir "$pages"
open_window
check "old temporaries of ours are gone after the next start" \
  bash -c "[ -z \"\$(ls -A '$pages' | grep -E '^\.tessivane-[A-Za-z0-9]{6}$' | grep -vx '.tessivane-Z9y8X7')\" ]"
check "a young one, maybe another copy's write, stays" [ -e "$pages/.tessivane-Z9y8X7" ]
check "a file that only looks like ours stays" [ "$(cat "$pages/.tessivane-notes.txt")" = mine ]
stop_program

echo "== no display"
status=0
env -u DISPLAY "$program" >"$work/no-display" 2>&1 || status=$?
check "without DISPLAY: status 1 (got $status)" [ "$status" -eq 1 ]
check "one line naming DISPLAY and X11 ($(cat "$work/no-display"))" \
  bash -c "[ \$(wc -l <'$work/no-display') -eq 1 ] && grep -q 'DISPLAY' '$work/no-display' && grep -q 'X11' '$work/no-display'"
status=0
DISPLAY=:4999 "$program" >"$work/no-display" 2>&1 || status=$?
check "with an unreachable DISPLAY: status 1 (got $status)" [ "$status" -eq 1 ]
check "one line naming it ($(cat "$work/no-display"))" \
  bash -c "[ \$(wc -l <'$work/no-display') -eq 1 ] && grep -q ':4999' '$work/no-display'"

echo "== the command line"
usage() {  # usage STATUS OUTPUT_PATTERN ARG...: exit status and the one line on standard error
  local want=$1 pattern=$2 status=0
  shift 2
  "$program" "$@" >"$work/out" 2>"$work/err" || status=$?
  [ "$status" -eq "$want" ] && [ "$(wc -l <"$work/err")" -le 1 ] &&
    grep -q -- "$pattern" "$work/out" "$work/err"
}
check "--help: usage on standard output, status 0" usage 0 '^Usage: tessivane-seo' --help
check "--version" usage 0 '^tessivane-seo 1.0$' --version
check "an unknown option: status 2" usage 2 "unknown option '--bogus'" --bogus
check "--pages-dir without DIR: status 2" usage 2 "'--pages-dir' needs an argument" --pages-dir
check "--pages-dir naming no folder: status 2" \
  usage 2 "tessivane-seo: $work/none: No such file or directory" --pages-dir "$work/none"
check "two FILEs: status 2" usage 2 'more than one FILE' a.html b.html

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
