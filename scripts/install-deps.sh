#!/usr/bin/env bash
# Installs the Debian packages one task needs, when any is missing.
# Usage: install-deps.sh [SET]...  with SET one of
#   build    building the project and running the window (the default)
#   test     build, plus the tools the tests, fuzzing, sanitizers and benchmarks use
#   package  build, plus what makes the Debian package (scripts/package.sh)
#   check    test and package, plus debootstrap for scripts/check-package.sh
set -eu

build=(build-essential cmake pkg-config libgtest-dev libboost-regex-dev
  libgtk-3-dev libwebkit2gtk-4.1-dev libxtst-dev fonts-wqy-microhei)
package=("${build[@]}" dpkg-dev file)
test=("${package[@]}" clang libclang-rt-14-dev clang-format libbenchmark-dev
  xvfb xauth xdotool x11-utils imagemagick valgrind procps
  lintian appstream desktop-file-utils man-db)
check=("${test[@]}" debootstrap)

packages=()
for set in "${@:-build}"; do
  case $set in
    build | test | package | check)
      declare -n chosen=$set
      packages+=("${chosen[@]}")
      unset -n chosen
      ;;
    *) echo "install-deps.sh: unknown set '$set' (build, test, package or check)" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
