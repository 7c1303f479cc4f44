#!/usr/bin/env bash
# Installs the Debian package on a fresh Debian 12 root and uses it as a person would: apt install,
# the window from its menu entry as a normal user (under Xvfb), the command line and its manual
# page, then apt remove. Needs root and the network. Usage: check-package.sh [PACKAGE.deb]
# Builds the package first (scripts/package.sh) when none is given or found. KEEP_ROOT=1 keeps the
# root for a look afterwards; DEBIAN_MIRROR chooses the mirror (scripts/fresh_root_lib.sh).
set -eu
cd "$(dirname "$0")/.."

if [ "${1:-}" != --inside ]; then
  bash scripts/install-deps.sh check
  deb=${1:-$(ls tessivane-seo_*.deb 2>/dev/null | tail -n1)}
  [ -n "$deb" ] || { bash scripts/package.sh; deb=$(ls tessivane-seo_*.deb | tail -n1); }
  # A mount namespace of its own: the root's mounts go when the script ends, however it ends.
  exec shell/run_in_xvfb.sh unshare --mount --propagation private "$0" --inside "$(realpath "$deb")"
fi
deb=$2
program=/usr/bin/tessivane-seo
sample_source=$(realpath shell/sample_article.html)
. shell/gui_test_lib.sh

. scripts/fresh_root_lib.sh

# as_user COMMAND...: runs COMMAND in the root as its normal user, in their home.
as_user() {
  chroot "$root" setpriv --reuid=tester --regid=tester --init-groups env -i \
    PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 HOME=/home/tester USER=tester \
    DISPLAY="$DISPLAY" sh -c 'cd && exec "$@"' sh "$@"
}

make_fresh_root "$work/debootstrap.log"
# A desktop system reads manual pages; minbase has no man.
in_root apt-get install -y -qq man-db >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; exit 1; }
in_root useradd --create-home --shell /bin/bash tester
in_root dpkg-query -W -f='${Package}\n' | sort >"$work/packages_before"

echo "== apt install ./$(basename "$deb")"
cp "$deb" "$root/tmp/"
if in_root sh -c "cd /tmp && apt install -y ./$(basename "$deb")" >"$work/apt.log" 2>&1; then
  added=$(($(in_root dpkg-query -W | wc -l) - $(wc -l <"$work/packages_before")))
  pass "apt install, $added packages added"
else
  tail -30 "$work/apt.log"
  fail "apt install"
  exit 1
fi
in_root dpkg -L tessivane-seo >"$work/files"

echo "== the command line"
shuffle_help() { as_user tessivane-shuffle --help | grep -q tessivane-shuffle; }
check "tessivane-shuffle --help" shuffle_help
cp "$work/expected_backup.html" "$root/home/tester/sample.html"
as_user tessivane-shuffle --classic --seed 1000 sample.html >"$work/shuffled.html" || true
order=$(block_order "$work/shuffled.html" || true)
check "tessivane-shuffle --classic --seed 1000: the sample's blocks in the order 3124 ($order)" \
  [ "$order" = 3124 ]
shuffled_sample() { block_order "$1" >/dev/null; }
# The installed completion registers a function for tessivane-shuffle that completes --cl.
cat >"$root/tmp/complete.sh" <<'EOF'
. /usr/share/bash-completion/completions/tessivane-shuffle
registration=$(complete -p tessivane-shuffle)
function=$(awk '{for (i = 1; i < NF; i++) if ($i == "-F") print $(i + 1)}' <<<"$registration")
COMP_WORDS=(tessivane-shuffle --cl)
COMP_CWORD=1
"$function" tessivane-shuffle --cl tessivane-shuffle
[ "${COMPREPLY[*]}" = --classic ]
EOF
check "bash completion: tessivane-shuffle --cl completes to --classic" as_user bash /tmp/complete.sh
shows_manual_page() { as_user man -P cat "$1" 2>/dev/null | grep -q "^NAME"; }
for page in tessivane-shuffle tessivane-seo; do
  check "man $page" shows_manual_page "$page"
done

echo "== the window, started from its menu entry by a normal user"
exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/tessivane-seo.desktop")
command=$(sed 's/ *%[fFuU]//g' <<<"$exec_line")
echo "Exec=$exec_line, run as: $command"
# The command line of a menu entry is split as the shell would; it names no file here.
as_user sh -c "exec $command" >"$work/window.log" 2>&1 &
started+=($!)
pid=$!
find_window() {
  win=$(xdotool search --onlyvisible --name TessivaneSEO 2>/dev/null | head -n1)
  [ -n "$win" ]
}
if poll 60 find_window; then
  pass "the window opens"
else
  fail "the window opens"
  cat "$work/window.log"
  exit 1
fi
check "the left view paints the sample" poll 30 painted 10000 left_view_dark
press_button
check "a press paints the right view" poll 10 painted 10000 right_view_dark
pages=$root/home/tester/.local/share/tessivane-seo
check "pages in ~/.local/share/tessivane-seo, a folder only the user may enter" \
  [ "$(in_root stat -c %U:%a /home/tester/.local/share/tessivane-seo 2>/dev/null)" = tester:700 ]
check "backup.html there is the sample" cmp "$pages/backup.html" "$work/expected_backup.html"
check "index.html there is a shuffle of it" shuffled_sample "$pages/index.html"
xdotool key Escape  # the click left the focus in the window
ended() { [ ! -d "/proc/$pid" ] || grep -q '^State:.*Z' "/proc/$pid/status"; }
check "Esc closes the window and the program ends" poll 10 ended
sed 's/^/  window output: /' "$work/window.log" | head -20

echo "== apt remove"
in_root apt remove -y tessivane-seo >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; fail "apt remove"; }
left=()
while IFS= read -r path; do
  if [ -d "$root$path" ] && [ ! -L "$root$path" ]; then
    # A folder stays only while another package uses it.
    in_root dpkg -S "$path" >/dev/null 2>&1 || left+=("$path")
  elif [ -e "$root$path" ] || [ -L "$root$path" ]; then
    left+=("$path")
  fi
done <"$work/files"
check "apt remove leaves nothing of the package (${left[*]:-})" [ ${#left[@]} -eq 0 ]
in_root apt-get autoremove -y --purge >"$work/apt.log" 2>&1
in_root dpkg-query -W -f='${Package}\n' | sort >"$work/packages_after"
# apt keeps what an installed package still depends on, recommends or suggests (apt itself
# recommends ca-certificates); anything else it brought must be gone.
orphans=()
for package in $(comm -13 "$work/packages_before" "$work/packages_after"); do
  wanted_by=$(in_root apt-cache rdepends --installed --no-conflicts --no-breaks --no-replaces \
    --no-enhances "$package" | tail -n +3 | tr -d ' |' | sort -u)
  echo "  kept by apt autoremove: $package, wanted by $(echo $wanted_by)"
  [ -n "$wanted_by" ] || orphans+=("$package")
done
check "apt autoremove leaves no package that nothing wants (${orphans[*]:-})" \
  [ ${#orphans[@]} -eq 0 ]
echo "the user's own pages stay in their home: $(ls "$pages" 2>/dev/null | tr '\n' ' ')"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
