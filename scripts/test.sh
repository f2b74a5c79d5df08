#!/usr/bin/env bash
# Sets up and builds Quorvane, then runs every test, checks the installed layout and the Debian
# package, then fuzzes the document engine for a minute per target. The window tests run on
# Qt's offscreen platform, so no display is needed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)")
scripts/check_install.sh
scripts/fuzz.sh 60
