#!/usr/bin/env bash
# Installs the project and starts the window as a user would: window_install_test.sh CMAKE
# BUILD_DIR SAMPLE_SOURCE. Needs DISPLAY on a 1920 x 1080 screen with no window manager; run it
# through run_in_xvfb.sh. As root, the installed programs run as nobody.
set -eu

cmake=$1
build_dir=$(realpath "$2")
sample_source=$(realpath "$3")
. "$(dirname "$0")/gui_test_lib.sh"
. "$(dirname "$0")/gui_test_args.sh"

[ "$(id -u)" -ne 0 ] || runner=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
prefix="$work/prefix"
"$cmake" --install "$build_dir" --prefix "$prefix" >"$work/install.log"
launcher="$prefix/bin/tessivane-seo"
check "the launcher is installed on PATH as tessivane-seo" [ -x "$launcher" ]
check "it is a shell script, not the program" bash -c "head -n1 '$launcher' | grep -qx '#!/bin/sh'"
check "the program goes under libexec" [ -x "$prefix/libexec/tessivane-seo/tessivane-seo" ]
check "the manual page is installed" [ -s "$prefix/share/man/man1/tessivane-seo.1" ]
check "the manual page reads without warnings" \
  bash -c "! LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l '$prefix/share/man/man1/tessivane-seo.1' \
    2>&1 >/dev/null | grep ."
installed_before=$(find "$prefix" | sort)

open_window() {
  poll 20 find_window || { fail "the window opens"; cat "$home/output"; exit 1; }
}

echo "== the launcher, with XDG_DATA_HOME set"
start_with "$prefix/bin"
pages="$home/data/tessivane-seo"
open_window
check "the left view paints the sample" poll 20 painted 10000 left_view_dark
check "the pages folder is made in the data folder, mode 0700" \
  [ "$(stat -c %a "$pages" 2>/dev/null)" = 700 ]
user=$(id -un)
[ ${#runner[@]} -eq 0 ] || user=nobody
check "the pages folder belongs to the user ($user)" [ "$(stat -c %U "$pages")" = "$user" ]
check "backup.html there is the sample" cmp "$pages/backup.html" "$work/expected_backup.html"
press_button
check "a press writes index.html there" poll 5 test -s "$pages/index.html"
order=$(block_order "$pages/index.html" || true)
check "index.html is the four blocks in some order ($order)" [ ${#order} -eq 4 ]
check "the right view paints the shuffle" poll 10 painted 10000 right_view_dark
check "nothing was written in the installed folders" [ "$(find "$prefix" | sort)" = "$installed_before" ]
stop_program

echo "== the launcher, without XDG_DATA_HOME, with arguments passed on"
home="$work/plain-home"
mkdir -p "$home"
[ ${#runner[@]} -eq 0 ] || chown nobody:nogroup "$home"
(cd "$work" && exec env -i PATH=/usr/bin:/bin DISPLAY="$DISPLAY" LANG=C.UTF-8 HOME="$home" \
  XDG_RUNTIME_DIR="$home" NO_AT_BRIDGE=1 "${runner[@]}" "$launcher" --version >"$work/version")
check "--version goes through to the program" [ "$(cat "$work/version")" = "tessivane-seo 1.0" ]
(cd "$work" && exec env -i PATH=/usr/bin:/bin DISPLAY="$DISPLAY" LANG=C.UTF-8 HOME="$home" \
  XDG_RUNTIME_DIR="$home" NO_AT_BRIDGE=1 "${runner[@]}" "$launcher" >"$home/output" 2>&1) &
pid=$!
started+=("$pid")
open_window
pages="$home/.local/share/tessivane-seo"
check "the pages go to ~/.local/share/tessivane-seo" poll 5 test -s "$pages/backup.html"
check "made with mode 0700" [ "$(stat -c %a "$pages")" = 700 ]
check "the left view paints the sample" poll 20 painted 10000 left_view_dark
stop_program

echo "== the installed program itself, in its read-only folder"
program_dir="$prefix/libexec/tessivane-seo"
if [ ${#runner[@]} -eq 0 ]; then chmod 555 "$program_dir"; fi
start_with "$program_dir"
open_window
check "the left view shows the view's own page for the missing file" poll 20 painted 100 left_view_dark
press_button
check "a press shows the view's own page in the right view" poll 10 painted 100 right_view_dark
check "no page file was written" [ "$(ls "$program_dir")" = tessivane-seo ]
check "no message window: the program shows one window" \
  [ "$(xdotool search --onlyvisible --pid "$pid" --name . | wc -l)" -eq 1 ]
stop_program
chmod 755 "$program_dir"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
