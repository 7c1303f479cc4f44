# start_with FOLDER [ARG...]: starts FOLDER's tessivane-seo with ARGs as start_program does (a home
# of its own, a clean environment), through "${runner[@]}" when set. Sets $pid, $home, $start_ms.
# Sourced after gui_test_lib.sh.
runner=()
start_with() {
  local folder=$1
  shift
  home=$(mktemp -d "$work/home.XXXX")
  chmod 700 "$home"
  [ ${#runner[@]} -eq 0 ] || chown nobody:nogroup "$home"
  start_ms=$(now_ms)
  (cd "$work" && exec env -i PATH=/usr/bin:/bin DISPLAY="$DISPLAY" LANG=C.UTF-8 HOME="$home" \
    XDG_RUNTIME_DIR="$home" XDG_CACHE_HOME="$home/cache" XDG_DATA_HOME="$home/data" \
    XDG_CONFIG_HOME="$home/config" NO_AT_BRIDGE=1 "${sanitizer_options[@]}" \
    "${runner[@]}" "$folder/tessivane-seo" "$@" >"$home/output" 2>&1) &
  pid=$!
  started+=("$pid")
}

stop_program() {
  pkill -KILL -P "$pid" 2>/dev/null || true
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

# The program's windows a person can see, one id a line; GTK's 10 x 10 helper windows for
# drag and drop stand off screen and do not count.
program_windows() {
  local w
  for w in $(xdotool search --onlyvisible --pid "$pid" --name . 2>/dev/null); do
    xwininfo -id "$w" | awk '/Absolute upper-left X/ {x = $4} /Absolute upper-left Y/ {y = $4}
      /Width:/ {w = $2} END {exit !(x + w > 0 && y >= 0 && w > 10)}' && echo "$w"
  done
}
visible_windows() { program_windows | wc -l; }
# Finds the program's one visible window besides $win, titled TITLE when given; sets $dialog and
# gives it the keyboard, once it has had half a second to settle.
find_dialog() {
  dialog=$(program_windows | grep -vx "$win" | head -n1)
  [ -n "$dialog" ] || return 1
  [ $# -eq 0 ] || [ "$(xprop -id "$dialog" -notype _NET_WM_NAME)" = "_NET_WM_NAME = \"$1\"" ] ||
    return 1
  xdotool windowfocus --sync "$dialog"
  sleep 0.5
}

# The mean colour "R,G,B" (0-255) of a square of the window: colour_at X Y SIZE.
colour_at() {
  import -window "$win" "$work/shot.png" 2>/dev/null &&
    convert "$work/shot.png" -crop "$3x$3+$1+$2" +repage \
      -format '%[fx:int(mean.r*255+0.5)],%[fx:int(mean.g*255+0.5)],%[fx:int(mean.b*255+0.5)]' info:
}
