#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building, running and testing Quorvane,
# then configures and builds it in build/. Safe to run again: it installs only what is missing.
# With --packages-only it installs and stops there.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev qt6-translations-l10n qt6-qpa-plugins
  libcli11-dev libgtest-dev libgmock-dev
  fonts-wqy-microhei
  xvfb xauth
  # The document engine, and LibreOffice's converter for .doc/.xls/.rtf/.odt/.ods (headless;
  # its recommends, such as the equation editor, are not needed to convert). The tests read
  # the results with the Python readers and check LibreOffice's PDF of them with poppler.
  libzip-dev libpugixml-dev zlib1g-dev
  libreoffice-writer-nogui libreoffice-calc-nogui fonts-liberation2
  python3-docx python3-openpyxl python3-docxcompose poppler-utils
  # The fuzz targets (scripts/fuzz.sh): clang with libFuzzer and the sanitizer runtimes.
  clang libclang-rt-14-dev
  # The installed layout: the 48 px icon drawn from the SVG at build time, the desktop's
  # validators for the desktop entry and the AppStream metadata, and what `cpack -G DEB` runs
  # (dpkg-shlibdeps, file) to find the package's dependencies (scripts/check_install.sh).
  librsvg2-bin desktop-file-utils appstream dpkg-dev file
)
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing=()
for p in "${packages[@]}"; do
  # A desktop LibreOffice converts as well; installing the headless one would remove it.
  case $p in *-nogui) installed "${p%-nogui}" && continue ;; esac
  installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if [ "${1:-}" = --packages-only ]; then exit 0; fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
