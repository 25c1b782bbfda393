#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Stop -> silence of the real window under Xvfb against a private sound
# server with a null sink: a steady tone (No sweep) is started with Enter
# and stopped STOPS times each by Alt+S, Enter and a click on Start/Stop, in
# shuffled turns; stop_timeline.py records the sink's monitor on the same
# clock as the keys and prints each stop's time to the last sounding frame,
# then median, min and max per method. Ends the program with Alt+X.
#
# Not a CI test: real time, about 1.3 s per stop.
#
# usage: stop-silence.sh [QUORVEX] [STOPS] [SERVER]
#        (defaults: build/bin/quorvex, 10, pulseaudio; or pipewire)
# environment: REC_LATENCY_MS the recorder's latency (50; see stop_timeline.py), SEED
set -uo pipefail

program=${1:-build/bin/quorvex}
stops=${2:-10}
server=${3:-pulseaudio}
here=$(dirname "$0")
# The system's interpreter: a version manager's shim costs ~0.3 s a start.
python=/usr/bin/python3
[ -x "$python" ] || python=python3
[ -x "$program" ] || { echo "no program at $program" >&2; exit 1; }
for tool in Xvfb xdotool parec pactl "$python"; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done

work=$(mktemp -d /tmp/quorvex-stop.XXXXXX)
chmod 0700 "$work"
export XDG_RUNTIME_DIR=$work
xvfb_pid="" pa_pid="" app_pid="" pw_pids=()
# shellcheck source=tests/ui/x_session.sh
source "$here/../../tests/ui/x_session.sh"
cleanup() {
    stop_pid "$app_pid"
    stop_sound_server
    stop_pid "$xvfb_pid"
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; [ -f "$work/app.log" ] && cat "$work/app.log" >&2; exit 1; }

start_xvfb "$work/xvfb.log" || fail "Xvfb did not start"
start_sound_server "$server" || fail "no null sink on $server"
open_window "$program" || fail "the program ended at start-up or showed no window"
sleep 0.5
click $((187 + 16)) $((72 + 119))   # grpSweepSpeed, item "No sweep": a steady tone

echo "== $server, load average $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
"$python" "$here/stop_timeline.py" "$stops" $((X + 16 + 32)) $((Y + 344 + 12)) || status=1
kill -0 "$app_pid" 2>/dev/null || fail "the program died"
xdotool key alt+x
for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.05; done
kill -0 "$app_pid" 2>/dev/null && fail "the program did not end after Alt+X"
wait "$app_pid" || fail "the program ended with status $?"
app_pid=""
exit $status
