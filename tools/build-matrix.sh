#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libraries and programs (no tests, no benchmarks) from clean
# folders in every build type with GCC and in Release with Clang, warnings as
# errors: what distributions and users build must build without a warning.
# usage: tools/build-matrix.sh [ROOT]   (ROOT default: build-matrix; each
# configuration's folder is removed again after its build)
set -euo pipefail
cd "$(dirname "$0")/.."
root=${1:-build-matrix}
jobs=2
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi

configs=("g++ Debug" "g++ Release" "g++ RelWithDebInfo" "g++ MinSizeRel" "clang++ Release")
for config in "${configs[@]}"; do
  read -r compiler type <<<"$config"
  dir=$root/$compiler-$type
  rm -rf "$dir"
  mkdir -p "$dir"
  start=$(date +%s)
  if ! { cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" -DCMAKE_CXX_COMPILER="$compiler" \
           -DQUORVEX_WERROR=ON -DBUILD_TESTING=OFF -DQUORVEX_BENCH=OFF "${launcher[@]}" &&
         cmake --build "$dir" -j"$jobs"; } >"$dir.log" 2>&1; then
    tail -n 60 "$dir.log"
    echo "build-matrix: $compiler $type FAILED (log: $dir.log)"
    exit 1
  fi
  echo "build-matrix: $compiler $type built without a warning in $(($(date +%s) - start)) s"
  rm -rf "$dir" "$dir.log"
done
rmdir "$root" 2>/dev/null || true
