#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Does the program's memory stay flat while it plays? Runs the real program
# under Xvfb into a private sound server with a null sink, with the chirp on
# and slow sweeps restarted as each one ends, and prints its resident memory
# after the first minute and at the end (ten minutes by default). Not a CI
# test: it takes the whole time it measures.
#
# usage: tools/memory.sh [QUORVEX] [FIRST_SECONDS] [TOTAL_SECONDS]
#   defaults: build/bin/quorvex 60 600
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
program=$(realpath "${1:-$root/build/bin/quorvex}")
first=${2:-60}
total=${3:-600}

work=$(mktemp -d /tmp/quorvex-memory.XXXXXX)
export XDG_RUNTIME_DIR=$work
xvfb_pid="" pa_pid="" app_pid=""
# shellcheck source=tests/ui/x_session.sh
source "$root/tests/ui/x_session.sh"
cleanup() {
    stop_pid "$app_pid"
    stop_sound_server
    stop_pid "$xvfb_pid"
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; [ -f "$work/app.log" ] && cat "$work/app.log" >&2; exit 1; }

start_xvfb "$work/xvfb.log" || fail "Xvfb did not start"
start_sound_server pulseaudio || fail "no sound server"

open_window "$program" || fail "the program ended at start-up or showed no window"

rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$app_pid/status"; }

# Chirp on at 1.5 Hz/s, "Slow" with markers, Start.
click $((184 + 80)) $((328 + 22))    # the chirp rate field
xdotool key --window "$window" ctrl+a
xdotool type --window "$window" 1.5
xdotool key --window "$window" Return
click $((184 + 20)) $((328 + 22))    # chirp "On"
click $((187 + 16)) $((72 + 73))     # "Slow"
click $((192 + 16)) $((272 + 28))    # markers "Enabled"
xdotool mousemove --sync $((X + 2)) $((Y + 2))
xdotool key --window "$window" alt+s

# A slow sweep lasts 45 s and then ends by itself; Start begins the next.
start=$(date +%s)
next_start=$((start + 50))
first_rss=""
while :; do
    now=$(date +%s)
    elapsed=$((now - start))
    kill -0 "$app_pid" 2>/dev/null || fail "the program ended"
    if [ -z "$first_rss" ] && [ "$elapsed" -ge "$first" ]; then
        first_rss=$(rss_kib)
        echo "RSS after ${first} s: ${first_rss} KiB"
    fi
    [ "$elapsed" -ge "$total" ] && break
    if [ "$now" -ge "$next_start" ]; then
        xdotool key --window "$window" alt+s
        next_start=$((now + 50))
    fi
    sleep 1
done
last_rss=$(rss_kib)
echo "RSS after ${total} s: ${last_rss} KiB"
echo "growth: $((last_rss - first_rss)) KiB (allowed: 1024 KiB)"
[ $((last_rss - first_rss)) -le 1024 ] || fail "memory grew by more than 1 MiB"
