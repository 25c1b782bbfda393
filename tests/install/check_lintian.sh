#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package from the build tree and has lintian check it as
# a distribution would, pedantic and experimental checks included. Every
# finding is shown; an error or a warning fails.
# usage: check_lintian.sh BUILD_DIR VERSION
set -euo pipefail
build=$1 version=$2
out=$(mktemp -d /tmp/quorvex-lintian.XXXXXX)
trap 'rm -rf "$out"' EXIT

# shellcheck source=tests/install/make_package.sh
source "$(dirname "$0")/make_package.sh"
make_package "$build" "$out" "$version"

# lintian's status tells only whether it could check the package; the
# findings' severity is read from its report.
if ! lintian -EI -L +pedantic --display-experimental --tag-display-limit 0 --fail-on none "$deb" >"$out/report"; then
  cat "$out/report"
  echo "FAIL: lintian could not check $(basename "$deb")"
  exit 1
fi
cat "$out/report"
if grep -Eq '^[EW]: ' "$out/report"; then
  echo "FAIL: lintian reports errors or warnings on $(basename "$deb")"
  exit 1
fi
echo "$(basename "$deb"): no lintian error or warning"
