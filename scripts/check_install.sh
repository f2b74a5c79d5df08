#!/usr/bin/env bash
# Checks the installed layout of the build in build/ (or the folder given): `cmake --install`
# into a staging folder lays out the desktop program's files and nothing else, the desktop's own
# validators accept the desktop entry and the AppStream metadata, and `cpack -G DEB` packs the
# same files with the shared libraries' packages among its dependencies.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
id=io.github.quorvane.Quorvane
expected="usr/bin/quorvane
usr/bin/quorvane-batch
usr/share/applications/$id.desktop
usr/share/icons/hicolor/48x48/apps/$id.png
usr/share/icons/hicolor/scalable/apps/$id.svg
usr/share/metainfo/$id.metainfo.xml
usr/share/quorvane/help.htm"

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
fail() { echo "check_install: $*" >&2; exit 1; }
# The installed files as sorted paths below the root, from `find` or from `dpkg-deb -c`.
same_files() {
  [ "$1" = "$expected" ] || fail "$2 holds:"$'\n'"$1"$'\n'"instead of:"$'\n'"$expected"
}

DESTDIR="$stage/root" cmake --install "$build" --prefix /usr >/dev/null
same_files "$(cd "$stage/root" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort)" \
  "cmake --install"
file "$stage/root/usr/share/icons/hicolor/48x48/apps/$id.png" | grep -q '48 x 48' ||
  fail "the 48 px icon is not 48 by 48 pixels"
desktop_report=$(desktop-file-validate "$stage/root/usr/share/applications/$id.desktop" 2>&1) ||
  fail "desktop-file-validate: $desktop_report"
[ -z "$desktop_report" ] || fail "desktop-file-validate: $desktop_report"
appstreamcli validate --no-net "$stage/root/usr/share/metainfo/$id.metainfo.xml" >/dev/null ||
  fail "appstreamcli validate: $(appstreamcli validate --no-net \
    "$stage/root/usr/share/metainfo/$id.metainfo.xml" 2>&1)"

cpack_report=$(cd "$build" && cpack -G DEB -B "$stage/package" 2>&1) || fail "cpack: $cpack_report"
deb=$(echo "$stage"/package/quorvane_*.deb)
[ -f "$deb" ] || fail "cpack made no quorvane_*.deb"
same_files "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $NF}' | sed 's|^\./||' |
              LC_ALL=C sort)" "$(basename "$deb")"
depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'libqt6widgets6' <<<"$depends" ||
  fail "the package does not depend on Qt's widgets: $depends"
echo "check_install: $(basename "$deb") and the installed layout are as they should be"
