#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Set-up, build, then start the program.
set -euo pipefail
cd "$(dirname "$0")/.."

./tools/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2

if [ -x build/bin/quorvex ]; then
  exec build/bin/quorvex "$@"
fi
# Until the window exists: render a demo sweep to a file.
build/bin/quorvex-render -o build/demo-sweep.wav --speed slow --markers
echo "Rendered a 45 s slow sweep with half-octave markers to $PWD/build/demo-sweep.wav"
