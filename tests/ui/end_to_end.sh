#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The real program under Xvfb against a private sound server with a null sink:
# Enter starts the fast smooth sweep, which the recording of the sink's
# monitor must show; then "Slow" with half-octave markers plays a while, Exit
# is pressed, and the program must end with status 0. A screenshot of the
# window is left in the artifacts folder.
#
# SERVER is pulseaudio (the default) or pipewire: PipeWire with WirePlumber
# and pipewire-pulse, its graph at 44.1 kHz, as most current desktops run it.
#
# usage: end_to_end.sh QUORVEX SWEEP_CHECK ARTIFACT_DIR [SERVER]
set -euo pipefail

program=$1
sweep_check=$2
artifacts=$3
server=${4:-pulseaudio}
mkdir -p "$artifacts"

work=$(mktemp -d /tmp/quorvex-e2e.XXXXXX)
chmod 0700 "$work"
export XDG_RUNTIME_DIR=$work
xvfb_pid="" pa_pid="" app_pid="" rec_pid="" pw_pids=()

# shellcheck source=tests/ui/x_session.sh
source "$(dirname "$0")/x_session.sh"
cleanup() {
    [ -n "$rec_pid" ] && kill -INT "$rec_pid" 2>/dev/null
    stop_pid "$app_pid"
    stop_sound_server
    stop_pid "$xvfb_pid"
    rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; [ -f "$work/app.log" ] && cat "$work/app.log" >&2; exit 1; }

# --- X server on a free display ----------------------------------------------
start_xvfb "$work/xvfb.log" || fail "Xvfb did not start"

# --- Private sound server with a null sink -------------------------------------
start_sound_server "$server" || fail "no null sink on $server"

record() {  # file: starts parec on the monitor and waits until samples flow
    # A recorder asking for little latency would set PipeWire's cycle.
    parec --latency-msec=100 -d null.monitor --format=s16le --rate=44100 --channels=2 "$1" &
    rec_pid=$!
    for _ in $(seq 100); do [ -s "$1" ] && break; sleep 0.05; done
}
stop_recording() {
    sleep 0.5
    kill -INT "$rec_pid"
    wait "$rec_pid" || true
    rec_pid=""
}

# --- The program ------------------------------------------------------------------
open_window "$program" || fail "the program ended at start-up or showed no window"

# A dock matches the window to its desktop entry by the window's class.
wm_class=$(sed -n 's/^StartupWMClass=//p' "$(dirname "$0")/../../ui/org.quorvex.Quorvex.desktop")
xdotool search --class "^${wm_class}\$" 2>/dev/null | grep -qx "$window" ||
    fail "the window's class is not the desktop entry's StartupWMClass '$wm_class'"

# Fast smooth sweep: Enter presses Start.
record "$work/fast.raw"
xdotool key --window "$window" Return
sleep 4
stop_recording
"$sweep_check" fast "$work/fast.raw" || fail "the fast smooth sweep is not in the recording"

xwd -silent -id "$window" -out "$artifacts/quorvex-window-$server.xwd"
if command -v convert >/dev/null; then
    convert "$artifacts/quorvex-window-$server.xwd" "$artifacts/quorvex-window-$server.png" 2>/dev/null || true
fi

# Stop, select "Slow" and the markers (both are clicked where they stand in
# the fixed layout), start again.
xdotool key --window "$window" Return
sleep 0.5
click $((187 + 16)) $((72 + 73))     # grpSweepSpeed, item "Slow"
click $((192 + 16)) $((272 + 28))    # grpOctaveMarkers, check box "Enabled"
record "$work/slow.raw"
xdotool key --window "$window" Return
sleep 3
stop_recording
"$sweep_check" slow "$work/slow.raw" || fail "no slow sweep in the recording"

# Exit: the program stops the output and ends with status 0.
click $((96 + 32)) $((344 + 12))
status=0
for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.05; done
kill -0 "$app_pid" 2>/dev/null && fail "the program did not end after Exit"
wait "$app_pid" || status=$?
app_pid=""
[ "$status" -eq 0 ] || fail "exit status $status"
echo "OK: end-to-end run on $server passed; screenshot in $artifacts"
