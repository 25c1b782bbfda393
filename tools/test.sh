#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Set-up; every build type with GCC and a Release build with Clang, without a
# warning; then every test twice: in the normal build and in a second build
# with AddressSanitizer and UndefinedBehaviorSanitizer. Warnings are errors
# in all of them.
set -euo pipefail
cd "$(dirname "$0")/.."

./tools/setup.sh

./tools/build-matrix.sh

jobs=2
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEX_WERROR=ON
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUORVEX_SANITIZE=ON -DQUORVEX_BENCH=OFF -DQUORVEX_WERROR=ON
cmake --build build-asan -j"$jobs"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0:${LSAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
ctest --test-dir build-asan --output-on-failure -j"$jobs"
