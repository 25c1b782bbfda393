#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Start-up time of the whole program under Xvfb: from launch until the main
# window is shown (mapped and viewable), over several runs; prints each run
# and the median. Goal: median under 300 ms.
#
# usage: startup.sh [QUORVEX] [RUNS]   (defaults: build/bin/quorvex, 9)
set -euo pipefail

program=${1:-build/bin/quorvex}
runs=${2:-9}
[ -x "$program" ] || { echo "no program at $program" >&2; exit 1; }

work=$(mktemp -d /tmp/quorvex-bench.XXXXXX)
export XDG_RUNTIME_DIR=$work
xvfb_pid="" app_pid=""
# shellcheck source=tests/ui/x_session.sh
source "$(dirname "$0")/../../tests/ui/x_session.sh"
cleanup() { stop_pid "$app_pid"; stop_pid "$xvfb_pid"; rm -rf "$work"; }
trap cleanup EXIT

start_xvfb "$work/xvfb.log" || { echo "Xvfb did not start" >&2; exit 1; }

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

times=()
for run in $(seq 0 "$runs"); do
    start=$(now_ms)
    QT_QPA_PLATFORM=xcb "$program" >"$work/run$run.log" 2>&1 &
    app_pid=$!
    shown=""
    # Each look costs a few milliseconds; the pause between looks keeps the
    # poller from taking the CPU the program is starting on.
    until xdotool search --onlyvisible --name "Q u o r v e x" >/dev/null 2>&1; do
        sleep 0.01
        kill -0 "$app_pid" 2>/dev/null || { echo "the program ended at start-up:" >&2; cat "$work/run$run.log" >&2; exit 1; }
        [ $(( $(now_ms) - start )) -lt 10000 ] || { echo "no window after 10 s" >&2; exit 1; }
    done
    shown=$(now_ms)
    stop_pid "$app_pid"
    wait "$app_pid" 2>/dev/null || true
    app_pid=""
    # The first run warms the caches (fonts, libraries) and is not counted.
    if [ "$run" -eq 0 ]; then echo "warm-up: $((shown - start)) ms"; continue; fi
    times+=($((shown - start)))
    echo "run $run: $((shown - start)) ms"
done

median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : int((a[NR/2] + a[NR/2+1]) / 2)}')
echo "median start-up to window shown: $median ms over $runs runs (goal < 300 ms)"
