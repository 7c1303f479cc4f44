#!/usr/bin/env bash
# Installs what is missing, then configures and builds the project in build/ (or $BUILD_DIR).
# DEPS names the set of packages to install first (scripts/install-deps.sh; default build).
set -eu
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh ${DEPS:-build}
build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} "$@" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
