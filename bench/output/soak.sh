#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The gapless soak: the 45 s slow sweep with half-octave markers, played RUNS
# times through the program's own device layer and Playback into a private
# server's null sink while a clean two-job build of this project runs at the
# same priority (over and over, without ccache); every recording is compared
# with the engine's render. Prints, per server,
#   N/N exact, underruns U, inserted frames F
# Not part of the tests: it takes about 50 s per run. The build holds the
# machine-wide build lock for the whole soak.
#
# usage: bench/output/soak.sh [RUNS] [SERVER...]
#   RUNS    default 10; SERVER pulseaudio or pipewire, default both
#   BUILD_DIR (environment) where output_soak was built, default build
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
runs=${1:-10}
shift || true
servers=("$@")
((${#servers[@]})) || servers=(pulseaudio pipewire)
soak=$root/${BUILD_DIR:-build}/bin/output_soak
[ -x "$soak" ] || { echo "build output_soak first: cmake --build build --target output_soak" >&2; exit 2; }

work=$(mktemp -d /tmp/quorvex-soak.XXXXXX)
compile_pid=""
cleanup() {
    # The build runs in a process group of its own, ended by its id.
    if [ -n "$compile_pid" ]; then
        kill -TERM -- -"$compile_pid" 2>/dev/null || true
        wait "$compile_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

exec 9>/tmp/quorvex-build.lock
echo "waiting for the build lock..." >&2
flock 9
setsid bash -c '
    root=$1 dir=$2
    export CCACHE_DISABLE=1
    while :; do
        rm -rf "$dir"
        cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEX_BENCH=OFF \
              -DCMAKE_CXX_COMPILER_LAUNCHER= >/dev/null 2>&1
        cmake --build "$dir" -j2 >/dev/null 2>&1 || true
    done' soak-build "$root" "$work/build" &
compile_pid=$!
sleep 10  # the build is in full swing

status=0
for server in "${servers[@]}"; do
    echo "== $server, load average $(cut -d' ' -f1-3 /proc/loadavg)"
    "$soak" --server "$server" --runs "$runs" || status=1
done
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status
