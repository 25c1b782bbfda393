#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Stalls of the whole program during a recorded slow sweep, through the real
# window under Xvfb against a private sound server with a null sink: the
# window plays the 45 s slow sweep with half-octave markers (selected by
# clicks, started with Enter, as the end-to-end run does), and the process
# is stopped (SIGSTOP) for MS milliseconds COUNT times at moments spread over
# the sweep (a random offset each), then continued. The sweep must end by
# itself (the button shows Start again), and the recording of the sink's
# monitor is compared frame by frame with quorvex-render's output for the
# same settings. Prints the stalls as measured, when the sweep ended, and
#   exact | inserted silence only | FAULT
# with the comparison's counts. Exit status 0 exact, 3 only inserted
# silence, 1 a frame lost or changed, a sweep that did not end, or a
# program that died.
#
# Not a CI test: about a minute of real time.
#
# usage: stall-window.sh [MS] [COUNT] [SERVER]
#        (defaults: 200, 6, pulseaudio; or pipewire)
# environment: BIN_DIR where quorvex, quorvex-render and ui_sweep_check are
#              (default build/bin), SEED (random)
set -uo pipefail

ms=${1:-200}
count=${2:-6}
server=${3:-pulseaudio}
here=$(dirname "$0")
bin=${BIN_DIR:-build/bin}
RANDOM=${SEED:-$$}
python=/usr/bin/python3
[ -x "$python" ] || python=python3
for program in quorvex quorvex-render ui_sweep_check; do
    [ -x "$bin/$program" ] || { echo "no $program in $bin" >&2; exit 1; }
done
for tool in Xvfb xdotool xwd parec pactl "$python"; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done

work=$(mktemp -d /tmp/quorvex-stall.XXXXXX)
chmod 0700 "$work"
export XDG_RUNTIME_DIR=$work
xvfb_pid="" pa_pid="" app_pid="" rec_pid="" pw_pids=()
# shellcheck source=tests/ui/x_session.sh
source "$here/../../tests/ui/x_session.sh"
cleanup() {
    # A stopped program would not see its TERM.
    [ -n "$app_pid" ] && kill -CONT "$app_pid" 2>/dev/null
    [ -n "$rec_pid" ] && kill -INT "$rec_pid" 2>/dev/null
    stop_pid "$app_pid"
    stop_sound_server
    stop_pid "$xvfb_pid"
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAULT: $*" >&2; [ -s "$work/app.log" ] && cat "$work/app.log" >&2; exit 1; }
now_ms() { echo $((${EPOCHREALTIME/./} / 1000)); }

"$bin/quorvex-render" -o "$work/render.wav" --speed=slow --markers --chunks=180 || fail "no render"
start_xvfb "$work/xvfb.log" || fail "Xvfb did not start"
start_sound_server "$server" || fail "no null sink on $server"
open_window "$bin/quorvex" || fail "the program ended at start-up or showed no window"
sleep 0.5
click $((187 + 16)) $((72 + 73))    # grpSweepSpeed, item "Slow"
click $((192 + 16)) $((272 + 28))   # grpOctaveMarkers, check box "Enabled"

# The Start button's look, idle, with the pointer away from it.
button=(16 344 65 25)
xdotool mousemove $((X + 600)) $((Y + 10))
sleep 0.3
start_look=$(pixel_sum "${button[@]}")
[ -n "$start_look" ] || fail "no screenshot of the window"

# As the end-to-end run records: PipeWire's cycle would follow a recorder
# asking for less.
parec --latency-msec=100 -d null.monitor --format=s16le --rate=44100 --channels=2 "$work/rec.raw" &
rec_pid=$!
for _ in $(seq 100); do [ -s "$work/rec.raw" ] && break; sleep 0.05; done
sleep 0.5

echo "== $server, $count stalls of $ms ms, load average $(cut -d' ' -f1-3 /proc/loadavg)"
xdotool key Return
started=$(now_ms)
# Spread over the sweep's first 40 s: one stall in each of COUNT equal
# stretches, at a random point of its middle part.
stretch=$((40000 / (count > 0 ? count : 1)))
stalls=()
# A read that never gets data times the stall without a process to start.
exec {never}<> <(:)
for ((k = 0; k < count; k++)); do
    at=$((2000 + k * stretch + RANDOM % (stretch / 2 + 1)))
    while (($(now_ms) - started < at)); do sleep 0.02; done
    kill -0 "$app_pid" 2>/dev/null || fail "the program died before stall $((k + 1))"
    t0=$EPOCHREALTIME
    kill -STOP "$app_pid"
    read -rt "$(printf '%d.%03d' $((ms / 1000)) $((ms % 1000)))" -u "$never"
    kill -CONT "$app_pid"
    t1=$EPOCHREALTIME
    stalls+=("$(((${t1/./} - ${t0/./}) / 1000))ms@$((${t0/./} / 1000 - started))")
done
echo "stalls (length@start, ms after Start): ${stalls[*]}"

# The sweep ends by itself: the button shows Start again.
ended=""
deadline=$((started + 45000 + count * ms + 15000))
while (($(now_ms) < deadline)); do
    kill -0 "$app_pid" 2>/dev/null || fail "the program died during the sweep"
    if [ "$(pixel_sum "${button[@]}")" = "$start_look" ]; then ended=$(($(now_ms) - started)); break; fi
    sleep 0.25
done
sleep 1
kill -INT "$rec_pid"
wait "$rec_pid" 2>/dev/null
rec_pid=""
[ -n "$ended" ] || fail "the sweep did not end by itself within $(((deadline - started) / 1000)) s (button never showed Start again)"
echo "sweep ended by itself: Start shown again $ended ms after Start was pressed"

status=0
"$bin/ui_sweep_check" render "$work/rec.raw" "$work/render.wav" || status=$?
[ -s "$work/app.log" ] && { echo "program's stderr:"; cat "$work/app.log"; }
case $status in
0) echo "RESULT: exact" ;;
3) echo "RESULT: inserted silence only" ;;
*) echo "RESULT: FAULT (frames lost or changed)"; status=1 ;;
esac

xdotool key alt+x
for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.05; done
kill -0 "$app_pid" 2>/dev/null && fail "the program did not end after Alt+X"
app_pid=""
exit $status
