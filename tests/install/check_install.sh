#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a temporary prefix and checks that exactly the
# listed files arrive, that the programs run from there and that the
# manual pages and icons are what they claim to be.
# usage: check_install.sh BUILD_DIR EXPECTED_LIST VERSION
set -euo pipefail
build=$1 expected=$2 version=$3
prefix=$(mktemp -d /tmp/quorvex-install.XXXXXX)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort) >"$prefix.list"
trap 'rm -rf "$prefix" "$prefix.list"' EXIT
if ! diff -u <(LC_ALL=C sort "$expected") "$prefix.list"; then
  echo "FAIL: installed files differ from $expected (- expected, + installed)"
  exit 1
fi

fail=0
check() {  # check DESCRIPTION COMMAND...
  if ! "${@:2}" >/dev/null 2>&1; then echo "FAIL: $1"; fail=1; fi
}
check "installed quorvex answers --version" \
  bash -c '[ "$("$1"/bin/quorvex --version)" = "quorvex $2" ]' _ "$prefix" "$version"
check "installed quorvex-render writes a WAV file" \
  "$prefix/bin/quorvex-render" -o "$prefix/t.wav" --speed no-sweep --chunks 1
rm -f "$prefix/t.wav"
for page in quorvex quorvex-render; do
  f=$prefix/share/man/man1/$page.1.gz
  check "$page.1.gz is a gzip file" gzip -t "$f"
  title=$(echo "$page" | tr a-z A-Z)
  check "$page.1.gz is the manual page of $page, with its options" \
    bash -c 'zcat "$1" | grep -q "^\.TH $2 \"1\"" && zcat "$1" | grep -q -- "-version"' _ "$f" "$title"
done
for size in 16 22 24 32 48 64 128 256; do
  f=$prefix/share/icons/hicolor/${size}x${size}/apps/org.quorvex.Quorvex.png
  # Signature, then the header chunk's width and height, big-endian.
  check "${size}x${size} icon is a ${size}x${size} PNG" \
    bash -c '[ "$(od -An -tx1 -N24 "$1" | tr -d " \n")" = "$(printf "89504e470d0a1a0a0000000d49484452%08x%08x" "$2" "$2")" ]' _ "$f" "$size"
done
check "the desktop entry starts the installed program's name" \
  grep -qx 'Exec=quorvex' "$prefix/share/applications/org.quorvex.Quorvex.desktop"
if [ "$fail" -ne 0 ]; then exit 1; fi
echo "installed $(wc -l <"$prefix.list") files, all as listed"
