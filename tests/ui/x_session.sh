# Sourced by the end-to-end test and the start-up benchmark: stopping a
# process by pid, and a private Xvfb on a display of its own.

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
