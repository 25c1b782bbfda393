#!/usr/bin/env bash
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
stop_pid() {
    local pid=$1
    [ -n "$pid" ] || return 0
    kill -TERM "$pid" 2>/dev/null || return 0
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
}
cleanup() { stop_pid "$app_pid"; stop_pid "$xvfb_pid"; rm -rf "$work"; }
trap cleanup EXIT

# A display number of our own, far from the low numbers other X servers on
# this machine take first.
for _ in $(seq 20); do
    n=$((200 + RANDOM % 700))
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    # -noreset: a server that resets when its last client leaves refuses
    # connections meanwhile, and the probes here come and go all the time.
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 100); do
        xdotool getmouselocation >/dev/null 2>&1 && break
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.05
    done
    kill -0 "$xvfb_pid" 2>/dev/null && xdotool getmouselocation >/dev/null 2>&1 && break
    stop_pid "$xvfb_pid"
    xvfb_pid=""
done
[ -n "$xvfb_pid" ] || { echo "Xvfb did not start" >&2; exit 1; }

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
