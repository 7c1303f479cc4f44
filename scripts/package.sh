#!/usr/bin/env bash
# Builds the Debian package tessivane-seo_VERSION_ARCH.deb in the repository's root, from a build
# of its own in build-package/ (or $BUILD_DIR) with Debian's compiler flags and prefix /usr.
set -eu
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh package
build_dir=${BUILD_DIR:-build-package}

# The flags Debian builds its packages with, hardening included.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
eval "$(dpkg-buildflags --export=sh)"
export CXXFLAGS="$CXXFLAGS $CPPFLAGS"

cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DTESSIVANE_BUILD_BENCH=OFF -DTESSIVANE_FUZZ_SMOKE=OFF >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
cpack --config "$build_dir/CPackConfig.cmake" -B "$build_dir/package" >/dev/null
deb=$(ls "$build_dir"/package/tessivane-seo_*.deb)
cp "$deb" .
echo "built ./$(basename "$deb")"
