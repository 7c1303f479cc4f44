#!/usr/bin/env bash
# Breaks the page files while the window runs: window_fault_test.sh PROGRAM SAMPLE_SOURCE [PART]
# PART is "folder" (the default: a folder, a link, a read-only folder) or "full-disk"; the full
# disk needs a mount namespace and exits with 77 (skipped) where one cannot be made. With
# FAULT_TEST_PAGES_DIR=1 the program lives in a folder of its own and is told with --pages-dir
# where its pages go.
# Needs DISPLAY on a 1920 x 1080 screen with no window manager; run it through run_in_xvfb.sh.
# Through every fault the window keeps working and shows no message, nothing outside its folder
# is written, and index.html is always either its old content or a whole new page. Every file a
# check protects is writable by the user the program runs as, so a writer that ignored the folder's
# rules would be caught even when the test runs as root.
set -eu

program=$(realpath "$1")
sample_source=$(realpath "$2")
part=${3:-folder}
# The full disk is a small tmpfs in a mount namespace of its own, gone when the part ends.
if [ "$part" = full-disk ] && [ -z "${FAULT_TEST_IN_NAMESPACE:-}" ]; then
  if [ "$(id -u)" -eq 0 ]; then namespace=(unshare -m --propagation private); else namespace=(unshare -rm); fi
  if ! why=$("${namespace[@]}" true 2>&1); then
    echo "skipped: the full-disk part needs a mount namespace (${namespace[*]}), refused here: $why"
    exit 77
  fi
  FAULT_TEST_IN_NAMESPACE=1 exec "${namespace[@]}" "$0" "$@"
fi
. "$(dirname "$0")/gui_test_lib.sh"

old_page='<P>an older page</P>'
folder_holds() {  # folder_holds FOLDER NAME...: exactly these entries, nothing left behind
  local folder=$1
  shift
  [ "$(ls -A "$folder" | sort | tr '\n' ' ')" = "$(printf '%s\n' "$@" | sort | tr '\n' ' ')" ]
}
is_regular_file() { [ ! -L "$1" ] && [ -f "$1" ]; }
whole_page() { local order; order=$(block_order "$1") && [ ${#order} -eq 4 ]; }
one_window() { [ "$(xdotool search --onlyvisible --pid "$pid" --name . | wc -l)" -eq 1 ]; }
# A press the program has handled: the right view, navigated again, no longer shows what it did.
right_view_differs() { [ "$(right_view_dark)" != "$view_before" ]; }
press_until_view_changes() {
  view_before=$(right_view_dark)
  press_button
  poll 10 right_view_differs
}
still_works() {  # a press after the fault is cleared writes a whole page again
  rm -f "$1/index.html"
  press_button
  poll 5 test -s "$1/index.html" && whole_page "$1/index.html"
}
stop_program() {
  pkill -KILL -P "$pid" 2>/dev/null || true
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}
open_window() {
  poll 20 find_window && poll 20 painted 10000 left_view_dark || { fail "the window opens"; exit 1; }
}

# install_program FOLDER: the program where its pages go, or with FAULT_TEST_PAGES_DIR a stand-in
# that runs a copy kept elsewhere with --pages-dir FOLDER. Every copy is reachable by the user the
# program runs as, wherever the build folder lies.
install_program() {
  if [ -z "${FAULT_TEST_PAGES_DIR:-}" ]; then
    cp "$program" "$1/"
    return
  fi
  mkdir -p "$work/program"
  cp "$program" "$work/program/tessivane-seo"
  printf '#!/bin/sh\nexec %s/program/tessivane-seo --pages-dir "$(dirname "$0")" "$@"\n' \
    "$work" >"$1/tessivane-seo"
  chmod 755 "$1/tessivane-seo"
}

run_full_disk() {
  echo "== a full file system"
  local disk="$work/disk"
  mkdir "$disk"
  mount -t tmpfs -o size=$(($(stat -c %s "$program") / 1024 + 64))k tessivane-test "$disk"
  install_program "$disk"
  start_program "$disk"
  open_window
  press_button
  check "a press writes index.html while there is room" poll 5 whole_page "$disk/index.html"
  printf '%s' "$old_page" >"$disk/index.html"
  dd if=/dev/zero of="$disk/filler" bs=4k status=none 2>/dev/null || true
  check "the disk is full" [ "$(df --output=avail "$disk" | tail -n1 | tr -d ' ')" -eq 0 ]
  check "a press on a full disk is handled" press_until_view_changes
  check "index.html keeps its old content" [ "$(cat "$disk/index.html")" = "$old_page" ]
  check "no temporary file is left" folder_holds "$disk" tessivane-seo backup.html index.html filler
  check "no message window" one_window
  rm "$disk/filler"
  check "with room again, a press writes a whole page" still_works "$disk"
  stop_program
  umount "$disk"
}

if [ "$part" = full-disk ]; then
  run_full_disk
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
fi

echo "== faults in a folder the program owns"
app="$work/app"
outside="$work/outside"
mkdir "$app" "$outside"
install_program "$app"
printf 'not to be touched' >"$outside/target"
# Root writes anywhere, so the program runs as nobody, and what it must leave alone is nobody's
# to write: its folder, the folder outside and the link's target.
runner=()
give_to_runner() { [ ${#runner[@]} -eq 0 ] || chown nobody:nogroup "$@"; }
if [ "$(id -u)" -eq 0 ]; then
  runner=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
give_to_runner "$app" "$outside" "$outside/target"
start_program "$app" "${runner[@]}"
open_window
press_button
check "a first press writes a whole page" poll 5 whole_page "$app/index.html"
poll 10 painted 10000 right_view_dark || true

rm "$app/index.html"
mkdir "$app/index.html"
check "a press with index.html taken by a folder is handled" press_until_view_changes
check "the folder stays, empty" [ -d "$app/index.html" -a -z "$(ls -A "$app/index.html")" ]
check "no temporary file is left" folder_holds "$app" tessivane-seo backup.html index.html
check "no message window" one_window
rmdir "$app/index.html"
check "with the folder gone, a press writes a whole page" still_works "$app"

rm "$app/index.html"
ln -s "$outside/target" "$app/index.html"
press_button
check "a press replaces a symbolic link at index.html by a whole page" \
  poll 5 is_regular_file "$app/index.html"
check "the page written is whole" whole_page "$app/index.html"
check "the link's target, outside the folder, is untouched" \
  [ "$(cat "$outside/target")" = "not to be touched" ]
check "nothing else was written outside" folder_holds "$outside" target

# The old page stays writable by the program: only the folder is read-only.
printf '%s' "$old_page" >"$app/index.html"
give_to_runner "$app/index.html"
chmod 555 "$app"
check "a press in a folder made read-only is handled" press_until_view_changes
check "index.html keeps its old content" [ "$(cat "$app/index.html")" = "$old_page" ]
check "no message window" one_window
chmod 755 "$app"
check "writable again, a press writes a whole page" still_works "$app"
check "the program still runs" kill -0 "$pid"
stop_program

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
