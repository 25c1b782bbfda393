#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a command while a clean build of this project loops beside it at the
# same priority (without ccache, in a folder of its own), then ends the
# build: the measurements of sound under a busy machine run through this.
# The build holds /tmp/quorvex-build.lock while it runs, so that two such
# runs never stack their builds.
#
# usage: bench/output/under-build.sh [-j N] COMMAND [ARG...]
#   -j N   jobs of the build, default 2
# Prints the load average before and after; exits with COMMAND's status.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
jobs=2
if [ "${1:-}" = "-j" ]; then
    jobs=$2
    shift 2
fi
(($#)) || { echo "usage: $0 [-j N] COMMAND [ARG...]" >&2; exit 2; }

work=$(mktemp -d /tmp/quorvex-under-build.XXXXXX)
build_pid=""
cleanup() {
    # The build runs in a process group of its own, ended by its id.
    if [ -n "$build_pid" ]; then
        kill -TERM -- -"$build_pid" 2>/dev/null || true
        wait "$build_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

exec 9>/tmp/quorvex-build.lock
echo "waiting for the build lock..." >&2
flock 9
setsid bash -c '
    root=$1 dir=$2 jobs=$3
    export CCACHE_DISABLE=1
    while :; do
        rm -rf "$dir"
        cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEX_BENCH=OFF \
              -DCMAKE_CXX_COMPILER_LAUNCHER= -DCMAKE_C_COMPILER_LAUNCHER= >/dev/null 2>&1
        cmake --build "$dir" -j"$jobs" >/dev/null 2>&1 || true
    done' under-build "$root" "$work/build" "$jobs" &
build_pid=$!
sleep 10  # the build is in full swing

echo "== a -j$jobs build beside it, load average $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
"$@" || status=$?
echo "== load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status
