#!/usr/bin/env bash
# Packs the build folder into the Debian package and checks its contents and metadata with
# dpkg-deb, lintian, desktop-file-validate and appstreamcli; installs nothing on this machine.
# Usage: package_test.sh BUILD_DIR SOURCE_DIR   (exits 77, skipped, when a tool is missing)
set -eu
build=$(realpath "$1")
source=$(realpath "$2")

for tool in cpack dpkg-deb dpkg-shlibdeps file lintian desktop-file-validate appstreamcli; do
  command -v "$tool" >/dev/null ||
    { echo "skipped: $tool is not installed (scripts/install-deps.sh test installs it)"; exit 77; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAILED: $*"; failed=1; }
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else fail "$what"; fi
}

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; echo "FAILED: cpack"; exit 1; }
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
deb="$work/out/tessivane-seo_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { ls "$work/out"; echo "FAILED: no $(basename "$deb")"; exit 1; }
echo "built $(basename "$deb"), $(stat -c %s "$deb") bytes"

# --- control fields ---
field() { dpkg-deb -f "$deb" "$1"; }
depends=$(field Depends)
echo "Depends: $depends"
check "Package, Section, Priority" \
  [ "$(field Package)/$(field Section)/$(field Priority)" = tessivane-seo/text/optional ]
check "Maintainer with an address" grep -qE '^[^<]+ <[^@>]+@[^>]+>$' <(field Maintainer)
check "Homepage" grep -q '^https://' <(field Homepage)
field Description >"$work/description"
check "description in English" grep -q "paragraphs of an HTML article" "$work/description"
check "description in Chinese" grep -q "伪原创工具" "$work/description"
narrow() { ! awk 'length > 80' "$1" | grep -q .; }
check "no description line wider than 80 characters" narrow "$work/description"
check "Depends: a CJK font" grep -qF "fonts-wqy-microhei | fonts-noto-cjk" <<<"$depends"

# --- contents ---
dpkg-deb -c "$deb" >"$work/listing"
awk '{print $6}' "$work/listing" | sed 's#^\./#/#; s#/$##' | grep -v '^$' >"$work/paths"
has() { grep -qxF "$1" "$work/paths"; }
none() { ! "$@" | grep -q .; }  # none COMMAND...: COMMAND prints nothing
check "everything under /usr, nothing in /usr/local" \
  none grep -vE '^/usr/(bin|libexec|share)(/|$)|^/usr$' "$work/paths"
check "every entry owned by root" none awk '$2 != "root/root"' "$work/listing"
check "modes 755 for folders and programs, 644 for data" \
  none awk '$1 !~ /^(drwxr-xr-x|-rw-r--r--|-rwxr-xr-x|lrwxrwxrwx)$/' "$work/listing"
for path in /usr/bin/tessivane-seo /usr/bin/tessivane-shuffle \
  /usr/share/applications/tessivane-seo.desktop \
  /usr/share/metainfo/io.github.tessivane.seo.metainfo.xml \
  /usr/share/doc/tessivane-seo/copyright /usr/share/doc/tessivane-seo/changelog.gz \
  /usr/share/bash-completion/completions/tessivane-shuffle; do
  check "holds $path" has "$path"
done

# The package carries exactly what `cmake --install` installs (manual pages compressed).
DESTDIR="$work/installed" cmake --install "$build" --prefix /usr >/dev/null
(cd "$work/installed" && find . ! -type d | sed 's#^\.##' | sort) >"$work/installed.list"
awk '$1 !~ /^d/ {print $6}' "$work/listing" | sed 's#^\.##; s#^\(/usr/share/man/.*\)\.gz$#\1#' |
  sort >"$work/packaged.list"
check "the package holds what cmake --install installs, and nothing else" \
  diff "$work/installed.list" "$work/packaged.list"

dpkg-deb -x "$deb" "$work/root"
root=$work/root
for size in 16 32 48 64 128 256; do
  icon=$root/usr/share/icons/hicolor/${size}x$size/apps/tessivane-seo.png
  check "icon at $size x $size" grep -q "PNG image data, $size x $size," <(file "$icon")
done
check "the 32 x 32 icon is the program's own" \
  cmp "$root/usr/share/icons/hicolor/32x32/apps/tessivane-seo.png" "$source/shell/icon.png"

# Manual pages: each page in the source tree is in the package, compressed with gzip -9n.
while IFS= read -r page; do
  name=$(basename "$page")
  check "manual page $name.gz" has "/usr/share/man/man${name##*.}/$name.gz"
done < <(find "$source" \( -path "$source/build*" -o -path "$source/.git" \) -prune -o \
  -name '*.[1-8]' -print)
check "every manual page compressed" \
  none awk '$1 ~ /^-/ && $6 ~ /^\.\/usr\/share\/man\// && $6 !~ /\.gz$/' "$work/listing"

# Programs: stripped, and every library they need named in Depends, by its package or by a
# name that package provides.
depends_names=$(tr ',|' '\n\n' <<<"$depends" | awk '{print $1}')
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
in_depends() {  # in_depends PACKAGE
  local name
  for name in "$1" $(dpkg-query -W -f='${Provides}' "$1" | tr ',' '\n' | awk '{print $1}'); do
    grep -qxF "$name" <<<"$depends_names" && return 0
  done
  return 1
}
while IFS= read -r elf; do
  name=${elf#"$root"}
  check "$name stripped" grep -q ", stripped" <(file "$elf")
  for library in $(objdump -p "$elf" | awk '$1 == "NEEDED" {print $2}'); do
    owner=$(dpkg -S "*/$multiarch/$library" 2>/dev/null | head -n1 | cut -d: -f1)
    check "$name needs $library, from ${owner:-no package}, in Depends" in_depends "${owner:-none}"
  done
done < <(find "$root" -type f -exec sh -c 'head -c4 "$1" | grep -q "ELF"' _ {} \; -print)

# The menu entry starts a program of the package and opens HTML files.
desktop=$root/usr/share/applications/tessivane-seo.desktop
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
check "Exec ($exec_line) is a program of the package" has "/usr/bin/${exec_line%% *}"
check "Exec takes a file (%f or %F)" grep -qE '^Exec=.* %[fF]$' "$desktop"
check "MimeType: HTML and XHTML" grep -qx 'MimeType=text/html;application/xhtml+xml;' "$desktop"

# --- validators ---
check "desktop-file-validate" desktop-file-validate "$desktop"
check "appstreamcli validate" appstreamcli validate --no-net --pedantic \
  "$root/usr/share/metainfo/io.github.tessivane.seo.metainfo.xml"
check "appstreamcli validate-tree (metainfo, desktop entry and icon together)" \
  appstreamcli validate-tree --no-net "$root"

# lintian exits 2 on errors and 1 when it could not check the package.
lintian_status=0
lintian --tag-display-limit 0 --display-info "$deb" >"$work/lintian" 2>&1 || lintian_status=$?
sed 's/^/  lintian: /' "$work/lintian"
check "lintian checked the package" [ "$lintian_status" -ne 1 ]
check "lintian: no errors" none grep "^E: " "$work/lintian"

[ "$failed" -eq 0 ] && echo "package checks passed"
exit "$failed"
