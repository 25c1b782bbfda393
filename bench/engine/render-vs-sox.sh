#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Times a whole 45 s slow sweep rendered by quorvex-render against the same
# length of sweep synthesised by sox, both as whole processes, and prints the
# median of each and their ratio.
#
#   bench/engine/render-vs-sox.sh [RUNS]        (default 15 runs each)
#
# QUORVEX_RENDER names the tool (default build/bin/quorvex-render).
set -euo pipefail
cd "$(dirname "$0")/../.."

runs=${1:-15}
render=${QUORVEX_RENDER:-build/bin/quorvex-render}
if [ ! -x "$render" ]; then
  echo "render-vs-sox: $render not found; build it first (cmake --build build --target quorvex-render)" >&2
  exit 2
fi
command -v sox >/dev/null || { echo "render-vs-sox: sox is not installed (tools/setup.sh installs it)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Wall time of one run in microseconds.
time_us() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  echo $(( (end - start) / 1000 ))
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

quorvex=(time_us "$render" -o "$work/quorvex.wav" --speed slow)
soxcmd=(time_us sox -n -r 44100 -c 2 -b 16 "$work/sox.wav" synth 45 sine 20/20000)

# One warm-up each, then the runs interleaved so that both see the same load.
"${quorvex[@]}" >/dev/null
"${soxcmd[@]}" >/dev/null
: >"$work/q.txt"
: >"$work/s.txt"
for ((i = 0; i < runs; i++)); do
  "${quorvex[@]}" >>"$work/q.txt"
  "${soxcmd[@]}" >>"$work/s.txt"
done

q=$(median <"$work/q.txt")
s=$(median <"$work/s.txt")
awk -v q="$q" -v s="$s" -v n="$runs" 'BEGIN {
  printf "45 s slow sweep, %d runs each (median wall time)\n", n
  printf "  quorvex-render  %9.1f ms\n", q / 1000
  printf "  sox synth       %9.1f ms\n", s / 1000
  printf "  sox / quorvex-render = %.1fx\n", s / q
}'
