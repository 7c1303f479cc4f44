#!/usr/bin/env bash
# Sets up, builds and opens the window program (under xvfb-run when there is no display).
set -eu
cd "$(dirname "$0")/.."
bash scripts/build.sh
program=${BUILD_DIR:-build}/shell/tessivane-seo
if [ ! -x "$program" ]; then
  echo "The window program is not built yet: $program is missing." >&2
  exit 1
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: run it under a virtual one with  xvfb-run -a $program" >&2
  exit 1
fi
exec "$program"
