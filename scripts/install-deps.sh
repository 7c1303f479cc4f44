#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and runs with, when any is missing.
set -eu

packages=(
  build-essential cmake pkg-config clang libclang-rt-14-dev clang-format
  libgtest-dev libbenchmark-dev libboost-regex-dev
  libgtk-3-dev libwebkit2gtk-4.1-dev fonts-wqy-microhei
  xvfb xauth xdotool x11-utils imagemagick valgrind libxtst-dev procps man-db
)

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
