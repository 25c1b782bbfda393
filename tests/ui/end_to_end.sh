#!/usr/bin/env bash
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
    stop_pid "$pa_pid"
    for ((i = ${#pw_pids[@]} - 1; i >= 0; i--)); do stop_pid "${pw_pids[i]}"; done
    stop_pid "$xvfb_pid"
    rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; [ -f "$work/app.log" ] && cat "$work/app.log" >&2; exit 1; }

# --- X server on a free display ----------------------------------------------
start_xvfb "$work/xvfb.log" || fail "Xvfb did not start"

# --- Private sound server with a null sink -------------------------------------
start_pipewire() {
    # Settings and state in the work folder too, or WirePlumber writes under
    # the home folder. The null sink lives in the configuration: one loaded
    # through pactl would vanish with pipewire-pulse.
    export XDG_CONFIG_HOME=$work/cfg XDG_STATE_HOME=$work/state
    mkdir -p "$XDG_CONFIG_HOME/pipewire/pipewire.conf.d" "$XDG_STATE_HOME"
    cat >"$XDG_CONFIG_HOME/pipewire/pipewire.conf.d/10-test.conf" <<'CONF'
context.properties = {
    default.clock.rate          = 44100
    default.clock.allowed-rates = [ 44100 ]
}
context.objects = [
    { factory = adapter
      args = { factory.name = support.null-audio-sink  node.name = "null"
               media.class = "Audio/Sink"  audio.rate = 44100  audio.channels = 2
               audio.position = [ FL FR ]  object.linger = true } }
]
CONF
    dbus-daemon --session --nofork --nopidfile --address="unix:path=$work/bus" >"$work/dbus.log" 2>&1 &
    pw_pids+=($!)
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/bus
    for _ in $(seq 100); do [ -S "$work/bus" ] && break; sleep 0.05; done
    pipewire >"$work/pw.log" 2>&1 &
    pw_pids+=($!)
    for _ in $(seq 100); do [ -S "$work/pipewire-0" ] && break; sleep 0.05; done
    wireplumber >"$work/wp.log" 2>&1 &
    pw_pids+=($!)
    pipewire-pulse >"$work/pp.log" 2>&1 &
    pw_pids+=($!)
}
case $server in
pulseaudio)
    pulseaudio --daemonize=yes --system=false --exit-idle-time=-1 --disallow-exit -n \
        --load="module-null-sink sink_name=null norewinds=1 rate=44100 channels=2 format=s16le" \
        --load="module-native-protocol-unix" --log-target=file:"$work/pulse.log"
    pa_pid=$(cat "$work/pulse/pid")
    ;;
pipewire) start_pipewire ;;
*) fail "unknown server $server" ;;
esac
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
for _ in $(seq 100); do pactl list short sinks | awk '$2=="null"{f=1} END{exit !f}' && break; sleep 0.1; done
pactl set-default-sink null || fail "no null sink on $server"

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
