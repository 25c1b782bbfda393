#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the numeric text fuzz target with clang (libFuzzer, ASan, UBSan) and
# runs it for 10 minutes (FUZZ_SECONDS to change). Not part of CI. A crash
# leaves its input in build-fuzz/; such inputs go into the regression table
# of tests/controls/num_text_test.cpp once fixed.
set -euo pipefail
cd "$(dirname "$0")/../../.."

build=build-fuzz
flock /tmp/quorvex-build.lock sh -c "cmake -S . -B $build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DQUORVEX_FUZZ=ON -DQUORVEX_BENCH=OFF >/dev/null \
  && cmake --build $build -j2 --target num_text_fuzz"

corpus=$build/fuzz-corpus
mkdir -p "$corpus"
cp -n tests/controls/fuzz/seeds/* "$corpus"/ 2>/dev/null || true
exec "$build/bin/num_text_fuzz" -max_total_time="${FUZZ_SECONDS:-600}" -max_len=128 \
  -artifact_prefix="$build/" "$corpus"
