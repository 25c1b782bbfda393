#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Pictures of the window for the README and docs/: at start-up and during a slow sweep
# with half-octave markers, at scale 1 and 2, taken from the real program
# under Xvfb playing into a private sound server with a null sink.
#
# usage: tools/screenshots.sh [QUORVEX] [OUTPUT_DIR]
#   defaults: build/bin/quorvex and docs/
# Needs: xvfb, xdotool, x11-apps (xwd), netpbm, pulseaudio, pulseaudio-utils.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
program=$(realpath "${1:-$root/build/bin/quorvex}")
out=$(realpath -m "${2:-$root/docs}")
mkdir -p "$out"

work=$(mktemp -d /tmp/quorvex-shots.XXXXXX)
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

start_xvfb "$work/xvfb.log" 1600x1200 || fail "Xvfb did not start"
start_sound_server pulseaudio || fail "no sound server"

shoot() {  # window file
    xwd -silent -id "$1" | xwdtopnm 2>/dev/null | pnmtopng >"$2"
    echo "wrote $2"
}

for scale in 1 2; do
    QT_SCALE_FACTOR=$scale open_window "$program" || fail "the program ended at start-up or showed no window"
    click_scale=$scale
    # Within the first second the status text still shows the speed.
    sleep 0.5
    shoot "$window" "$out/window-startup@${scale}x.png"

    # "Slow" with markers, started; a few seconds into the sweep the status
    # text shows the frequency and the marker text the last marker.
    click $((187 + 16)) $((72 + 73))     # grpSweepSpeed, item "Slow"
    click $((192 + 16)) $((272 + 28))    # grpOctaveMarkers, check box "Enabled"
    xdotool mousemove --sync $((X + 2)) $((Y + 2))
    xdotool key --window "$window" alt+s
    sleep 6
    shoot "$window" "$out/window-slow-sweep@${scale}x.png"

    click $((96 + 32)) $((344 + 12))    # Exit
    for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.05; done
    wait "$app_pid" || fail "the program ended with an error"
    app_pid=""
done
