#!/usr/bin/env bash
# Sets up and builds Quorvane, then starts the program (on the desktop when there is one,
# otherwise on a virtual X display so it can still be looked at).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec build/quorvane "$@"
fi
echo "No display: starting on a virtual X display (xvfb-run)."
exec xvfb-run -a -s "-screen 0 1024x768x24" build/quorvane "$@"
