#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs a built package on a fresh, minimal Debian 12 (a debootstrap
# chroot), runs both programs' --version and removes the package again: what
# `apt install ./quorvex_….deb` does for a user. Needs root, debootstrap and
# the Debian mirror; takes a few minutes. Not part of tools/test.sh.
# usage: tools/deb-fresh-install.sh quorvex_VERSION_ARCH.deb [CHROOT_DIR]
set -euo pipefail
deb=$(realpath "$1")
root=${2:-$(mktemp -d /tmp/quorvex-chroot.XXXXXX)}
command -v debootstrap >/dev/null || { echo "needs debootstrap (apt-get install debootstrap)" >&2; exit 1; }

[ -x "$root/usr/bin/apt-get" ] || debootstrap --variant=minbase bookworm "$root" http://deb.debian.org/debian >"$root.log"
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$deb" "$root/root/"
mount -t proc proc "$root/proc"
trap 'umount "$root/proc"' EXIT
chroot "$root" /bin/bash -euo pipefail -c '
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q >/dev/null
  apt-get install -y -q /root/'"$(basename "$deb")"' >/root/install.log 2>&1 || { tail -20 /root/install.log; exit 1; }
  quorvex --version
  quorvex-render --version
  apt-get remove -y -q quorvex >/dev/null
  [ ! -e /usr/bin/quorvex ] && [ ! -e /usr/bin/quorvex-render ]
'
echo "installed, ran and removed on a fresh Debian 12 in $root"
