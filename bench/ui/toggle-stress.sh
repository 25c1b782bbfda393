#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Rapid Start/Stop toggling on the real window, under Xvfb against a private
# sound server with a null sink: thousands of Alt+S and Enter presses,
# a Sweep Speed click after every third toggle (cycling through the five
# speeds) and now and then a click on the left level bar. Every PROBE_EVERY
# toggles the window must show that it still takes user input; at the end
# Alt+X must end the program with status 0 within a few seconds.
#
# The liveness probe: a window that waits for a device in a nested event loop
# keeps answering the window system (pings, exposes, timers) while it holds
# back keys and clicks, so "the process answers X" proves nothing. The probe
# therefore presses Enter or Alt+S and watches the Start button: the pointer
# is parked outside the window, the button's pixels must be still (two
# screenshots 150 ms apart agree), then the key is pressed and the pixels
# must turn into the button's other idle look (Start <-> Stop; a sunken
# look in between does not count) within HANG_LIMIT seconds.
# A message box of the program is reported as such, not as a hang. On a hang
# the main thread's state and a stack of every thread (gdb) are saved.
#
# Not a CI test: it takes minutes.
#
# usage: toggle-stress.sh [QUORVEX] [TOGGLES] [SERVER]
#        (defaults: build/bin/quorvex, 3000, pulseaudio; or pipewire)
# environment: PROBE_EVERY (30), HANG_LIMIT seconds (5), SEED (random),
#              STRESS_DEBUG (non-empty: print each probe's timing)
set -uo pipefail

program=${1:-build/bin/quorvex}
toggles=${2:-3000}
server=${3:-pulseaudio}
probe_every=${PROBE_EVERY:-30}
hang_limit=${HANG_LIMIT:-5}
RANDOM=${SEED:-$$}
# The system's interpreter: a version manager's shim costs ~0.3 s a start.
python=/usr/bin/python3
[ -x "$python" ] || python=python3
[ -x "$program" ] || { echo "no program at $program" >&2; exit 1; }
for tool in Xvfb xdotool xwd pactl "$python"; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done

work=$(mktemp -d /tmp/quorvex-stress.XXXXXX)
chmod 0700 "$work"
export XDG_RUNTIME_DIR=$work
keep=""  # set to a folder on failure: the logs and stacks are copied there
xvfb_pid="" pa_pid="" app_pid="" pw_pids=()
# shellcheck source=tests/ui/x_session.sh
source "$(dirname "$0")/../../tests/ui/x_session.sh"
cleanup() {
    stop_pid "$app_pid"
    stop_sound_server
    stop_pid "$xvfb_pid"
    if [ -n "$keep" ]; then
        cp -r "$work"/*.log "$work"/*.txt "$keep"/ 2>/dev/null
        echo "logs kept in $keep" >&2
    fi
    rm -rf "$work"
}
trap cleanup EXIT

start_time=$(date +%s)
done_toggles=0 speed_changes=0 level_changes=0 probes=0 hangs=0 slowest_answer=0 settle_start=0
look_a="" look_b=""  # the Start button idle as Start and as Stop, learnt by the first probe

summary() {
    echo "toggles $done_toggles (plus $probes probe presses), speed changes $speed_changes," \
        "level changes $level_changes, hangs detected $hangs, slowest probe answer $slowest_answer ms, duration $(($(date +%s) - start_time)) s"
}
fail() {
    echo "FAIL: $*" >&2
    summary >&2
    keep=$(mktemp -d /tmp/quorvex-stress-fail.XXXXXX)
    exit 1
}

# --- X server and sound server ------------------------------------------------
start_xvfb "$work/xvfb.log" || fail "Xvfb did not start"
start_sound_server "$server" || fail "no null sink on $server"

# --- The program ------------------------------------------------------------------
open_window "$program" || fail "the program ended at start-up or showed no window"
sleep 0.5

# Window coordinates of the fixed layout (scale 1, client area 443x388).
# The radio buttons of grpSweepSpeed, top to bottom: Fast (smooth),
# Fast (stepped), Slow, Manual, No sweep.
speed_x=$((187 + 16))
speed_y=($((72 + 27)) $((72 + 50)) $((72 + 73)) $((72 + 96)) $((72 + 119)))
level_x=$((335 + 8 + 16)) level_top=$((8 + 16 + 10)) level_span=140   # tkbLeftLevel
button_crop=(16 344 65 25)                     # btnStart: x y w h

alive() { kill -0 "$app_pid" 2>/dev/null; }
died() {  # when
    local status=0
    wait "$app_pid" || status=$?
    app_pid=""
    fail "the program died (status $status) $1"
}

# Visible windows of the program other than the main one that carry a title:
# a message box (tooltips and menus carry none).
other_windows() {
    local w name
    for w in $(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null); do
        [ "$w" = "$window" ] && continue
        name=$(xdotool getwindowname "$w" 2>/dev/null) || continue
        [ -n "$name" ] && printf '%s\n' "$name"
    done
}

report_hang() {  # what
    hangs=$((hangs + 1))
    {
        echo "=== $1"
        echo "main thread: $(cut -d' ' -f3 "/proc/$app_pid/task/$app_pid/stat" 2>/dev/null)" \
            "wchan $(cat "/proc/$app_pid/task/$app_pid/wchan" 2>/dev/null)"
        if command -v gdb >/dev/null; then
            gdb -p "$app_pid" -batch -ex 'thread apply all bt' 2>&1
        fi
    } >>"$work/hang-stacks.txt"
    fail "$1 (stacks of all threads in hang-stacks.txt)"
}

probe() {
    local before now deadline
    probes=$((probes + 1))
    xdotool mousemove $((X + 600)) $((Y + 10)) 2>/dev/null
    settle_start=$(($(date +%s%N) / 1000000))
    deadline=$((settle_start + hang_limit * 1000))
    before=$(pixel_sum "${button_crop[@]}")
    while :; do
        sleep 0.15
        alive || died "before probe $probes"
        now=$(pixel_sum "${button_crop[@]}")
        [ -n "$now" ] && [ "$now" = "$before" ] && break
        before=$now
        [ $(($(date +%s%N) / 1000000)) -lt "$deadline" ] || report_hang "the Start button did not settle within $hang_limit s (probe $probes)"
    done
    local boxes
    boxes=$(other_windows)
    [ -z "$boxes" ] || fail "a message box is open after $done_toggles toggles: $(echo "$boxes" | tr '\n' ' ')"
    # Enter and Alt+S by turns: both ways must reach the button.
    local pressed key=Return
    ((probes % 2 == 0)) && key=alt+s
    pressed=$(($(date +%s%N) / 1000000))
    xdotool key "$key"
    deadline=$((pressed + hang_limit * 1000))
    while :; do
        now=$(pixel_sum "${button_crop[@]}")
        if [ -n "$now" ] && [ "$now" != "$before" ] && { [ -z "$look_b" ] || [ "$now" = "$look_a" ] || [ "$now" = "$look_b" ]; }; then
            if [ -z "$look_b" ]; then  # the first probe learns both looks
                look_a=$before
                sleep 0.3
                look_b=$(pixel_sum "${button_crop[@]}")
                [ "$look_b" != "$look_a" ] || fail "the first Enter left the Start button as it was"
            fi
            now=$(($(date +%s%N) / 1000000 - pressed))
            [ -n "${STRESS_DEBUG:-}" ] && echo "probe $probes: settled at $((pressed - settle_start)) ms, answered in $now ms"
            ((now > slowest_answer)) && slowest_answer=$now
            return 0
        fi
        alive || died "during probe $probes"
        [ $(($(date +%s%N) / 1000000)) -lt "$deadline" ] ||
            report_hang "HANG: $key did not change the Start button within $hang_limit s (probe $probes, after $done_toggles toggles)"
        sleep 0.05
    done
}

# The first two probes show that Enter and Alt+S both reach the button
# before any stress.
probe
probe

pause() { sleep "0.0$((RANDOM % 6))"; }   # 0 to 50 ms
toggle() {
    if ((RANDOM % 2)); then xdotool key alt+s; else xdotool key Return; fi
    done_toggles=$((done_toggles + 1))
}

speed=0
while [ "$done_toggles" -lt "$toggles" ]; do
    toggle; pause
    toggle; pause
    toggle
    # The speed change follows the third toggle at once: it restarts the
    # output while the toggle's start or stop may still be under way.
    speed=$(((speed + 1) % 5))
    xdotool mousemove $((X + speed_x)) $((Y + speed_y[speed])) click 1
    speed_changes=$((speed_changes + 1))
    if ((RANDOM % 8 == 0)); then
        pause
        xdotool mousemove $((X + level_x)) $((Y + level_top + RANDOM % level_span)) click 1
        level_changes=$((level_changes + 1))
    fi
    pause
    alive || died "after $done_toggles toggles"
    if ((done_toggles % probe_every == 0)); then probe; fi
    if ((done_toggles % 600 == 0)); then summary; fi
done
probe

# --- Exit -------------------------------------------------------------------------
alive || died "before Exit"
xdotool key alt+x
for _ in $(seq 100); do alive || break; sleep 0.05; done
if alive; then report_hang "the program did not end within 5 s of Alt+X"; fi
status=0
wait "$app_pid" || status=$?
app_pid=""
[ "$status" -eq 0 ] || fail "exit status $status after Alt+X"
if [ -s "$work/app.log" ]; then
    echo "program's stderr ($(wc -l <"$work/app.log") lines), last lines:"
    tail -n 5 "$work/app.log"
fi
echo "OK: $(summary)"
