#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package from the build tree and checks its control
# fields and its contents.
# usage: check_package.sh BUILD_DIR EXPECTED_LIST VERSION
set -euo pipefail
build=$1 expected=$2 version=$3
out=$(mktemp -d /tmp/quorvex-package.XXXXXX)
trap 'rm -rf "$out"' EXIT

arch=$(dpkg --print-architecture)
# shellcheck source=tests/install/make_package.sh
source "$(dirname "$0")/make_package.sh"
make_package "$build" "$out" "$version"

fail=0
field() { dpkg-deb -f "$deb" "$1"; }
expect() {  # expect FIELD EXTENDED-REGEX
  local value
  value=$(field "$1")
  if ! grep -Eq -- "$2" <<<"$value"; then echo "FAIL: $1 is '$value', expected /$2/"; fail=1; fi
}
expect Package '^quorvex$'
expect Version "^${version//./\\.}$"
expect Architecture "^${arch}$"
expect Section '^sound$'
expect Maintainer '^.+ <.+@.+>$'
expect Description '^stereo tone and frequency-sweep generator'
expect Description 'quorvex-render'
# Computed from what the programs link: the Qt 6 widgets and PulseAudio.
expect Depends '(^|, )libqt6widgets6 '
expect Depends '(^|, )libqt6gui6 '
expect Depends '(^|, )libpulse0 '
expect Depends '(^|, )libc6 '
# The icon's theme; the window's narrow font and Wayland platform are
# recommended, as is a sound server.
expect Depends '(^|, )hicolor-icon-theme(,|$)'
expect Recommends '(^|, )fonts-dejavu-extra(,|$)'
expect Recommends '(^|, )qt6-wayland(,|$)'
expect Recommends '(^|, )pipewire-pulse \| pulseaudio(,|$)'

# The same files as an install, under /usr.
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./usr/||' | LC_ALL=C sort >"$out/contents"
if ! diff -u <(LC_ALL=C sort "$expected") "$out/contents"; then
  echo "FAIL: package contents differ from $expected (- expected, + packaged)"
  fail=1
fi
if [ "$fail" -ne 0 ]; then exit 1; fi
echo "$(basename "$deb"): Depends: $(field Depends)"
