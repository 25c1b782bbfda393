#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The CI load test (StreamUnderLoad: a whole slow sweep beside two busy
# workers, failing only on what load cannot cause) RUNS times in a row on
# each server while a clean build of this project loops beside it
# (bench/output/under-build.sh), to show that the test holds on a busy
# machine. Prints each run's result and what the server inserted, then
# "server: P/N passed".
#
# usage: bench/output/load-test.sh [-j N] [RUNS] [SERVER...]
#   -j N    jobs of the build beside it, default 4
#   RUNS    default 20; SERVER pulseaudio or pipewire, default both
#   BUILD_DIR (environment) where output_server_tests was built, default build
#   LOG (environment) a failed run's whole output goes to LOG.SERVER.RUN,
#       default /tmp/quorvex-load-test; a failed run's recording, if not exact, to
#       LOG.SERVER.RUN.recording.raw beside LOG.SERVER.RUN.render.raw
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
jobs=4
if [ "${1:-}" = "-j" ]; then
    jobs=$2
    shift 2
fi
runs=${1:-20}
shift || true
servers=("$@")
((${#servers[@]})) || servers=(pulseaudio pipewire)
tests=$root/${BUILD_DIR:-build}/bin/output_server_tests
[ -x "$tests" ] || { echo "build output_server_tests first" >&2; exit 2; }

run_all() {
    local status=0 server run passed out
    for server in "$@"; do
        passed=0
        for ((run = 1; run <= runs; ++run)); do
            if out=$(QT_QPA_PLATFORM=offscreen QUORVEX_SOUND_SERVER=$server \
                     QUORVEX_KEEP_RECORDING=$log.$server.$run \
                     "$tests" --gtest_filter='StreamUnderLoad.*' 2>&1); then
                passed=$((passed + 1))
                rm -f "$log.$server.$run".*.raw
                echo "$server run $run: passed, $(grep -o 'inserted.*' <<<"$out"), load $(cut -d' ' -f1 /proc/loadavg)"
            else
                status=1
                echo "$server run $run: FAILED, load $(cut -d' ' -f1 /proc/loadavg), its output in $log.$server.$run"
                printf '%s\n' "$out" >"$log.$server.$run"
                grep -E 'Failure|Expected|Which is|Value of|load:|fault|played' <<<"$out" | sed 's/^/    /' || true
            fi
        done
        echo "$server: $passed/$runs passed"
    done
    return $status
}
export -f run_all
log=${LOG:-/tmp/quorvex-load-test}
export tests runs log
exec "$here/under-build.sh" -j "$jobs" bash -c 'run_all "$@"' run_all "${servers[@]}"
