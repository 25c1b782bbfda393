# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the end-to-end test, the start-up benchmark and the scripts that
# run the real window: stopping a process by pid, a private Xvfb on a display
# of its own, a private sound server, and the program's window.

# What the helpers below started, for the caller's clean-up.
pa_pid="" pw_pids=() app_pid="" window=""

stop_pid() {  # pid: TERM, wait up to 5 s, then KILL
    local pid=$1
    [ -n "$pid" ] || return 0
    kill -TERM "$pid" 2>/dev/null || return 0
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
}

# Starts Xvfb, sets xvfb_pid and exports DISPLAY; returns 1 if none started.
# The display number is picked far from the low numbers other X servers on
# the machine take first.
start_xvfb() {  # log file [screen size, default 1024x768]
    local n size=${2:-1024x768}
    for _ in $(seq 20); do
        n=$((200 + RANDOM % 700))
        if [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; then continue; fi
        # -noreset: a server that resets when its last client leaves refuses
        # connections meanwhile, and the probes here come and go all the time.
        Xvfb ":$n" -screen 0 "${size}x24" -nolisten tcp -noreset >"$1" 2>&1 &
        xvfb_pid=$!
        export DISPLAY=":$n"
        for _ in $(seq 100); do
            xdotool getmouselocation >/dev/null 2>&1 && return 0
            kill -0 "$xvfb_pid" 2>/dev/null || break
            sleep 0.05
        done
        stop_pid "$xvfb_pid"
        xvfb_pid=""
    done
    return 1
}

# Starts a private sound server with a 44.1 kHz null sink named "null", made
# the default, in the folder $work (exported as XDG_RUNTIME_DIR before this
# is sourced): PulseAudio sets pa_pid, PipeWire (with WirePlumber and
# pipewire-pulse, as most desktops run it) appends to pw_pids. Returns 1 if
# no sink appeared. stop_sound_server stops what it started.
start_sound_server() {  # pulseaudio | pipewire
    case $1 in
    pulseaudio)
        pulseaudio --daemonize=yes --system=false --exit-idle-time=-1 --disallow-exit -n \
            --load="module-null-sink sink_name=null norewinds=1 rate=44100 channels=2 format=s16le" \
            --load="module-native-protocol-unix" --log-target=file:"$work/pulse.log" || return 1
        pa_pid=$(cat "$work/pulse/pid")
        ;;
    pipewire)
        # Settings and state in the work folder too, or WirePlumber writes
        # under the home folder.
        export XDG_CONFIG_HOME=$work/cfg XDG_STATE_HOME=$work/state
        mkdir -p "$XDG_CONFIG_HOME/pipewire/pipewire.conf.d" "$XDG_STATE_HOME"
        cp "$(dirname "${BASH_SOURCE[0]}")/../pipewire-null-sink.conf" \
            "$XDG_CONFIG_HOME/pipewire/pipewire.conf.d/10-test.conf"
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
        ;;
    *) return 1 ;;
    esac
    # pactl only once the socket is there: a client that finds no server
    # may start one of its own here (autospawn, for users other than root).
    for _ in $(seq 100); do [ -S "$work/pulse/native" ] && break; sleep 0.1; done
    for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
    for _ in $(seq 100); do pactl list short sinks | awk '$2=="null"{f=1} END{exit !f}' && break; sleep 0.1; done
    # pipewire-pulse refuses a default until WirePlumber has set up where
    # defaults are kept, which can come after the sink is listed.
    for _ in $(seq 100); do pactl set-default-sink null 2>/dev/null && return 0; sleep 0.1; done
    return 1
}

stop_sound_server() {
    stop_pid "${pa_pid:-}"
    pa_pid=""
    local i
    for ((i = ${#pw_pids[@]} - 1; i >= 0; i--)); do stop_pid "${pw_pids[i]}"; done
    pw_pids=()
}

# Starts the program on the X display (output in $work/app.log) and waits for
# its window: sets app_pid, window, and X, Y of its client area for click.
# Returns 1 if the program ended or no window appeared.
open_window() {  # program
    QT_QPA_PLATFORM=xcb "$1" >"$work/app.log" 2>&1 &
    app_pid=$!
    window=""
    for _ in $(seq 200); do
        window=$(xdotool search --onlyvisible --name "Q u o r v e x" 2>/dev/null | head -n1) && [ -n "$window" ] && break
        kill -0 "$app_pid" 2>/dev/null || return 1
        sleep 0.05
    done
    [ -n "$window" ] || return 1
    eval "$(xdotool getwindowgeometry --shell "$window")"
    xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
}

click() {  # x y in the window's own coordinates, times click_scale (default 1)
    local scale=${click_scale:-1}
    xdotool mousemove --sync $((X + $1 * scale)) $((Y + $2 * scale)) click 1
    sleep 0.3
}

# A checksum of a rectangle of the window's pixels (x y w h in the window),
# from a screenshot: tells a button's looks apart. Uses $python if set.
pixel_sum() {  # x y w h
    xwd -silent -id "$window" 2>/dev/null | "${python:-python3}" -c '
import hashlib, struct, sys
d = sys.stdin.buffer.read()
if len(d) < 100: sys.exit(1)
h = struct.unpack(">25I", d[:100])
size, bpp, bpl, ncolors = h[0], h[11], h[12], h[19]
x, y, w, hgt = map(int, sys.argv[1:5])
start = size + 12 * ncolors
px = bpp // 8
rows = b"".join(d[start + (y + r) * bpl + x * px: start + (y + r) * bpl + (x + w) * px] for r in range(hgt))
print(hashlib.md5(rows).hexdigest())
' "$@"
}
