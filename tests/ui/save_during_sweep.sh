#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Save as WAV on the real program while it plays, under Xvfb against a
# private sound server with a null sink: the window plays the 45 s slow sweep
# with half-octave markers (selected by clicks, started with Enter, as the
# end-to-end run does); a few seconds in, Ctrl+S opens the save dialog, a
# path is typed into it and Enter pressed. Then
# - the saved file must be quorvex-render's file for the same settings, byte
#   for byte;
# - the recording of the sink's monitor, over the whole sweep, must be that
#   file's samples frame by frame: the sweep played on through the dialog
#   and the save without a gap.
# Prints the comparison's counts and
#   RESULT: exact | inserted silence only | FAULT
# Exit status 0 exact, 3 only inserted silence, 1 anything else.
#
# Not a CI test: about a minute of real time.
#
# usage: save_during_sweep.sh [SERVER]   (pulseaudio, the default, or pipewire)
# environment: BIN_DIR where quorvex, quorvex-render and ui_sweep_check are
#              (default build/bin)
set -uo pipefail

server=${1:-pulseaudio}
here=$(dirname "$0")
bin=${BIN_DIR:-build/bin}
for program in quorvex quorvex-render ui_sweep_check; do
    [ -x "$bin/$program" ] || { echo "no $program in $bin" >&2; exit 1; }
done
for tool in Xvfb xdotool xwd parec pactl cmp; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done

work=$(mktemp -d /tmp/quorvex-save.XXXXXX)
chmod 0700 "$work"
export XDG_RUNTIME_DIR=$work
xvfb_pid="" pa_pid="" app_pid="" rec_pid="" pw_pids=()
# shellcheck source=tests/ui/x_session.sh
source "$here/x_session.sh"
cleanup() {
    [ -n "$rec_pid" ] && kill -INT "$rec_pid" 2>/dev/null
    stop_pid "$app_pid"
    stop_sound_server
    stop_pid "$xvfb_pid"
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAULT: $*" >&2; [ -s "$work/app.log" ] && cat "$work/app.log" >&2; exit 1; }
now_ms() { echo $((${EPOCHREALTIME/./} / 1000)); }

"$bin/quorvex-render" -o "$work/render.wav" --speed=slow --markers || fail "no render"
start_xvfb "$work/xvfb.log" || fail "Xvfb did not start"
start_sound_server "$server" || fail "no null sink on $server"
open_window "$bin/quorvex" || fail "the program ended at start-up or showed no window"
sleep 0.5
click $((187 + 16)) $((72 + 73))    # grpSweepSpeed, item "Slow"
click $((192 + 16)) $((272 + 28))   # grpOctaveMarkers, check box "Enabled"

parec --latency-msec=100 -d null.monitor --format=s16le --rate=44100 --channels=2 "$work/rec.raw" &
rec_pid=$!
for _ in $(seq 100); do [ -s "$work/rec.raw" ] && break; sleep 0.05; done
sleep 0.5

echo "== $server, load average $(cut -d' ' -f1-3 /proc/loadavg)"
xdotool key --window "$window" Return
started=$(now_ms)
sleep 4

# Ctrl+S, then the dialog: the proposed name replaced by a path, Enter.
xdotool key --window "$window" ctrl+s
dialog=""
for _ in $(seq 100); do
    dialog=$(xdotool search --onlyvisible --name "^Save as WAV\$" 2>/dev/null | head -n1) && [ -n "$dialog" ] && break
    sleep 0.05
done
[ -n "$dialog" ] || fail "Ctrl+S showed no save dialog"
echo "dialog open $(($(now_ms) - started)) ms after Start"
xdotool windowactivate --sync "$dialog" 2>/dev/null || xdotool windowfocus --sync "$dialog"
sleep 0.3
xdotool key ctrl+a
xdotool type --delay 30 "$work/saved.wav"
sleep 0.3
asked=$(now_ms)
xdotool key Return
for _ in $(seq 200); do [ -e "$work/saved.wav" ] && break; sleep 0.02; done
[ -e "$work/saved.wav" ] || fail "no file saved"
echo "file saved within $(($(now_ms) - asked)) ms of Enter, $(($(now_ms) - started)) ms after Start"
for _ in $(seq 100); do xdotool search --onlyvisible --name "^Save as WAV\$" >/dev/null 2>&1 || break; sleep 0.05; done
cmp "$work/saved.wav" "$work/render.wav" || fail "the saved file is not quorvex-render's for the same settings"
echo "saved file: byte for byte quorvex-render's ($(stat -c %s "$work/saved.wav") bytes)"

# The sweep's end, and a little silence after it.
while (($(now_ms) - started < 47000)); do
    kill -0 "$app_pid" 2>/dev/null || fail "the program died during the sweep"
    sleep 0.25
done
kill -INT "$rec_pid"
wait "$rec_pid" 2>/dev/null
rec_pid=""

status=0
"$bin/ui_sweep_check" render "$work/rec.raw" "$work/saved.wav" || status=$?
[ -s "$work/app.log" ] && { echo "program's stderr:"; cat "$work/app.log"; }
case $status in
0) echo "RESULT: exact" ;;
3) echo "RESULT: inserted silence only" ;;
*) echo "RESULT: FAULT (frames lost or changed)"; status=1 ;;
esac

click $((96 + 32)) $((344 + 12))   # Exit
for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.05; done
kill -0 "$app_pid" 2>/dev/null && fail "the program did not end after Exit"
app_pid=""
exit $status
