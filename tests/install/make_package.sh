# SPDX-License-Identifier: GPL-3.0-or-later
# shellcheck shell=bash
# Sourced by the package checks: make_package BUILD_DIR OUT_DIR VERSION
# builds the Debian package from the build tree into OUT_DIR and sets deb to
# its path; on failure it shows why and exits.
make_package() {
  local build=$1 out=$2 version=$3
  cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 || { cat "$out/cpack.log"; exit 1; }
  deb=$out/quorvex_${version}_$(dpkg --print-architecture).deb
  if [ ! -f "$deb" ]; then
    echo "FAIL: no $(basename "$deb"); made:"; ls "$out"
    exit 1
  fi
}
