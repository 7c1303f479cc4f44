#!/usr/bin/env bash
# Sets up, builds and opens the window program (without a display, says how to open it).
set -eu
cd "$(dirname "$0")/.."
bash scripts/build.sh
program=${BUILD_DIR:-build}/shell/tessivane-seo
if [ ! -x "$program" ]; then
  echo "The window program is not built yet: $program is missing." >&2
  exit 1
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  hint="xvfb-run -a $program"
  command -v xvfb-run >/dev/null || hint="sudo apt-get install xvfb xauth && $hint"
  echo "No display: run it on a virtual one with  $hint" >&2
  exit 1
fi
exec "$program"
