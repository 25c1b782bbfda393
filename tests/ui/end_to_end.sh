#!/usr/bin/env bash
# The real program under Xvfb against a private sound server with a null sink:
# Enter starts the fast smooth sweep, which the recording of the sink's
# monitor must show; then "Slow" with half-octave markers plays a while, Exit
# is pressed, and the program must end with status 0. A screenshot of the
# window is left in the artifacts folder.
#
# usage: end_to_end.sh QUORVEX SWEEP_CHECK ARTIFACT_DIR
set -euo pipefail

program=$1
sweep_check=$2
artifacts=$3
mkdir -p "$artifacts"

work=$(mktemp -d /tmp/quorvex-e2e.XXXXXX)
export XDG_RUNTIME_DIR=$work
xvfb_pid="" pa_pid="" app_pid="" rec_pid=""

stop_pid() {  # pid: TERM, wait up to 5 s, then KILL
    local pid=$1
    [ -n "$pid" ] || return 0
    kill -TERM "$pid" 2>/dev/null || return 0
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
}
cleanup() {
    [ -n "$rec_pid" ] && kill -INT "$rec_pid" 2>/dev/null
    stop_pid "$app_pid"
    stop_pid "$pa_pid"
    stop_pid "$xvfb_pid"
    rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; [ -f "$work/app.log" ] && cat "$work/app.log" >&2; exit 1; }

# --- X server on a free display ----------------------------------------------
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
[ -n "$xvfb_pid" ] || fail "Xvfb did not start"

# --- Private sound server with a null sink -------------------------------------
pulseaudio --daemonize=yes --system=false --exit-idle-time=-1 --disallow-exit -n \
    --load="module-null-sink sink_name=null norewinds=1 rate=44100 channels=2 format=s16le" \
    --load="module-native-protocol-unix" --log-target=file:"$work/pulse.log"
pa_pid=$(cat "$work/pulse/pid")
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl set-default-sink null

record() {  # file: starts parec on the monitor and waits until samples flow
    parec --latency-msec=20 -d null.monitor --format=s16le --rate=44100 --channels=2 "$1" &
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
QT_QPA_PLATFORM=xcb "$program" >"$work/app.log" 2>&1 &
app_pid=$!
window=""
for _ in $(seq 200); do
    window=$(xdotool search --onlyvisible --name "Q u o r v e x" 2>/dev/null | head -n1) && [ -n "$window" ] && break
    kill -0 "$app_pid" 2>/dev/null || fail "the program ended at start-up"
    sleep 0.05
done
[ -n "$window" ] || fail "no window appeared"
eval "$(xdotool getwindowgeometry --shell "$window")"  # X, Y of the client area
click() {  # x y in window coordinates
    xdotool mousemove --sync $((X + $1)) $((Y + $2)) click 1
    sleep 0.3
}
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"

# Fast smooth sweep: Enter presses Start.
record "$work/fast.raw"
xdotool key --window "$window" Return
sleep 4
stop_recording
"$sweep_check" fast "$work/fast.raw" || fail "the fast smooth sweep is not in the recording"

xwd -silent -id "$window" -out "$artifacts/quorvex-window.xwd"
if command -v convert >/dev/null; then
    convert "$artifacts/quorvex-window.xwd" "$artifacts/quorvex-window.png" 2>/dev/null || true
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
echo "OK: end-to-end run passed; screenshot in $artifacts"
