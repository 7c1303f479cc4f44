#!/usr/bin/env bash
# Sets up, builds and runs every test of the project.
set -eu
cd "$(dirname "$0")/.."
DEPS=test bash scripts/build.sh -DTESSIVANE_FUZZ_SMOKE=ON
build_dir=${BUILD_DIR:-build}
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"
