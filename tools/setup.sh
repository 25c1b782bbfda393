#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what building, running and testing need on a fresh Debian 12
# machine. Safe to run again: packages already present are skipped.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev fonts-dejavu-core fonts-dejavu-extra
  libpulse-dev pulseaudio pulseaudio-utils
  pipewire pipewire-pulse wireplumber pipewire-bin dbus
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  sox xvfb xdotool x11-apps netpbm hyperfine
  locales  # sources from which tests build the Turkish and Pashto locales
  help2man librsvg2-bin desktop-file-utils appstream dpkg-dev lintian man-db
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
