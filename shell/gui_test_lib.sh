# Helpers for the scripts that drive the built program under X as a person would. Sourced with
# $program (the executable) and $sample_source (the UTF-8 sample, one block per line) set; makes
# $work, a scratch folder removed on exit, and $work/blocks/1..$n, the GBK blocks of the sample.

export LC_ALL=C.UTF-8

work=$(mktemp -d)
chmod 755 "$work"
started=()
outputs=()
cleanup() {
  local status=$?
  if [ "$status" -ne 0 ]; then  # the programs' own words, for a failure read from the log alone
    for output in "${outputs[@]}"; do
      echo "--- standard output and error of the program started from ${output%%|*}:"
      cat "${output#*|}" 2>/dev/null || true
    done
  fi
  for pid in "${started[@]}"; do pkill -KILL -P "$pid" 2>/dev/null || true; done
  for pid in "${started[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

failed=0
passed=0
pass() { echo "ok: $*"; passed=$((passed + 1)); }
fail() { echo "FAILED: $*"; failed=$((failed + 1)); }
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
now_ms() { echo $(($(date +%s%N) / 1000000)); }

# Polls COMMAND every 50 ms until it succeeds or SECONDS pass.
poll() {  # poll SECONDS COMMAND...
  local deadline=$(($(now_ms) + $1 * 1000))
  shift
  until "$@"; do
    [ "$(now_ms)" -lt "$deadline" ] || return 1
    sleep 0.05
  done
}

# The sample as the program must write it: each line in GBK, joined by CR LF.
mkdir "$work/blocks"
n=0
while IFS= read -r line; do
  [ -n "$line" ] || continue
  n=$((n + 1))
  printf '%s' "$line" | iconv -f UTF-8 -t GBK >"$work/blocks/$n"
done <"$sample_source"
for i in $(seq "$n"); do
  [ "$i" -gt 1 ] && printf '\r\n'
  cat "$work/blocks/$i"
done >"$work/expected_backup.html"

# A sanitizer build's settings go through to the program.
sanitizer_options=()
for name in ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS; do
  [ -z "${!name:-}" ] || sanitizer_options+=("$name=${!name}")
done

# start_program FOLDER [RUNNER...]: starts FOLDER's copy of the program from elsewhere, with a
# home of its own; sets $pid and $start_ms.
start_program() {
  local folder=$1 home
  shift
  home=$(mktemp -d "$work/home.XXXX")
  chmod 700 "$home"
  [ $# -eq 0 ] || chown nobody:nogroup "$home"
  start_ms=$(now_ms)
  (cd "$work" && exec env -i PATH=/usr/bin:/bin DISPLAY="$DISPLAY" LANG=C.UTF-8 HOME="$home" \
    XDG_RUNTIME_DIR="$home" XDG_CACHE_HOME="$home/cache" XDG_DATA_HOME="$home/data" \
    XDG_CONFIG_HOME="$home/config" NO_AT_BRIDGE=1 "${sanitizer_options[@]}" \
    "$@" "$folder/tessivane-seo" \
    >"$home/output" 2>&1) &
  pid=$!
  started+=("$pid")
  outputs+=("$folder|$home/output")
}

find_window() { win=$(xdotool search --onlyvisible --pid "$pid" --name TessivaneSEO 2>/dev/null | head -n1); [ -n "$win" ]; }

# Dark pixels (text) inside a rectangle of the window: dark_pixels X Y WIDTH HEIGHT.
dark_pixels() {
  import -window "$win" "$work/shot.png" 2>/dev/null &&
    convert "$work/shot.png" -crop "$3x$4+$1+$2" +repage -colorspace Gray -threshold 50% \
      -format '%[fx:int(w*h*(1-mean)+0.5)]' info:
}
left_view_dark() { dark_pixels 8 8 464 515; }
right_view_dark() { dark_pixels 496 8 488 515; }
painted() {  # painted MIN_PIXELS VIEW_FUNCTION
  local count
  count=$($2) && [ "$count" -ge "$1" ]
}

press_button() { xdotool mousemove --window "$win" 480 542 click 1; }

# The order of the sample's blocks in FILE ("2143"), when FILE is exactly those blocks in some
# order; fails otherwise.
block_order() {
  local file=$1 i offsets=() order=""
  for i in $(seq "$n"); do
    offsets+=("$(LC_ALL=C grep -boaF -f "$work/blocks/$i" "$file" | head -n1 | cut -d: -f1)")
    [ -n "${offsets[-1]}" ] || return 1
  done
  order=$(for i in $(seq "$n"); do echo "${offsets[$((i - 1))]} $i"; done | sort -n | cut -d' ' -f2 | tr -d '\n')
  cmp -s "$file" <(for ((i = 0; i < ${#order}; i++)); do cat "$work/blocks/${order:i:1}"; done) &&
    echo "$order"
}

program_pss_kb() {
  local total=0 p kb
  for p in "$pid" $(pgrep -P "$pid"); do
    kb=$(awk '/^Pss:/ {print $2}' "/proc/$p/smaps_rollup" 2>/dev/null || echo 0)
    total=$((total + ${kb:-0}))
  done
  echo "$total"
}
