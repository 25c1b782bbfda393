#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The gapless soak: the 45 s slow sweep with half-octave markers, played RUNS
# times through the program's own device layer and Playback into a private
# server's null sink while a clean two-job build of this project runs at the
# same priority (over and over, without ccache); every recording is compared
# with the engine's render. Prints, per server,
#   N/N exact, underruns U, inserted frames F
# Not part of the tests: it takes about 50 s per run. The build holds
# /tmp/quorvex-build.lock for the whole soak (bench/output/under-build.sh).
#
# usage: bench/output/soak.sh [RUNS] [SERVER...]
#   RUNS    default 10; SERVER pulseaudio or pipewire, default both
#   BUILD_DIR (environment) where output_soak was built, default build
#   SOAK_ARGS (environment) more arguments for output_soak, e.g. "--stall 200 --hops"
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
runs=${1:-10}
shift || true
servers=("$@")
((${#servers[@]})) || servers=(pulseaudio pipewire)
soak=$root/${BUILD_DIR:-build}/bin/output_soak
[ -x "$soak" ] || { echo "build output_soak first: cmake --build build --target output_soak" >&2; exit 2; }

play() {
    local status=0 server
    for server in "$@"; do
        echo "== $server, load average $(cut -d' ' -f1-3 /proc/loadavg)"
        # shellcheck disable=SC2086
        "$soak" --server "$server" --runs "$runs" ${SOAK_ARGS:-} || status=1
    done
    return $status
}
export -f play
export soak runs SOAK_ARGS
exec "$here/under-build.sh" -j 2 bash -c 'play "$@"' play "${servers[@]}"
