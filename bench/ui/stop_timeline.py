#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Stop -> silence of the real window, read from a recording on one clock.

Run by stop-silence.sh inside its X session and private sound server, with
the window showing and a steady tone selected. It records the null sink's
monitor through parec and stamps every block that arrives with
CLOCK_MONOTONIC; it starts the output with Enter and stops it by Alt+S,
Enter or a click on Start/Stop by turns (each round in a shuffled order),
sending the keys and the button through the XTest extension itself and
stamping each event on the same clock once the X server has taken it
(XSync; the round trip is printed, well under a millisecond when idle).

The timeline: the sink takes our stream's sound a block at a time (the
null sink of PulseAudio renders a block ahead, PipeWire's graph a cycle),
and the monitor hands each block to the recorder right after, late by a
delivery delay. The smallest value of (arrival - first frame / rate) among
the blocks that arrive in the second before a stop is taken as the time
of frame 0; a frame's time is then when a device fed by the sink in real
time would play it, the block's first frame at the moment the sink took
the block. That estimate is late by the least delivery delay seen and, on
PipeWire, where the recorder's 2205-frame fragments do not line up with
the 2048-frame cycles, off by up to their difference (3.6 ms): a few
milliseconds, the same for every method. Scheduling delays of this process
drop out. Stop -> silence is the end of the last frame before 10 ms of
silence minus the stamp of the stopping event (the key press; for a
click, the button's release).

The recorder's latency sets the sink's: PulseAudio's null sink renders as
far ahead as the smallest latency any client asks, PipeWire runs its cycle
at it. At the default 50 ms the recorder asks no less than the program's
own stream, so the sink keeps what it would keep on a desktop, and what it
has taken when Stop comes still plays out (a null sink cannot take it
back; PulseAudio rewinds a sound card's buffer, so there the figure is an
upper bound). At 5 ms that share nearly vanishes and what is left is the
time the program and the server take to act.

usage: stop_timeline.py STOPS_PER_METHOD BUTTON_X BUTTON_Y
       (BUTTON_X/Y: the Start/Stop button's centre on the screen)
environment: REC_LATENCY_MS (50), SEED (random)
"""

import ctypes
import os
import random
import statistics
import subprocess
import sys
import threading
import time

RATE = 44100
FRAME_BYTES = 4
SILENCE = RATE // 100  # 10 ms of zeros: the steady tone has none


class Recorder:
    """parec on null.monitor; keeps (arrival ns, its first frame) per block."""

    def __init__(self, latency_ms):
        self.proc = subprocess.Popen(
            ["parec", "--raw", f"--latency-msec={latency_ms}", "-d", "null.monitor",
             "--format=s16le", f"--rate={RATE}", "--channels=2"],
            stdout=subprocess.PIPE, bufsize=0)
        self.data = bytearray()
        self.blocks = []
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        fd = self.proc.stdout.fileno()
        while True:
            block = os.read(fd, 1 << 16)
            arrival = time.monotonic_ns()
            if not block:
                return
            first = len(self.data) // FRAME_BYTES
            self.data += block
            self.blocks.append((arrival, first))

    def stop(self):
        self.proc.terminate()
        self.proc.wait()
        self.thread.join()

    def frame_zero(self, begin_ns, end_ns):
        """The time of frame 0 as the least delayed block arriving in [begin, end) shows it."""
        return min(arrival - first * 1e9 / RATE
                   for arrival, first in self.blocks
                   if begin_ns <= arrival < end_ns)

    def silent(self, frame):
        return not any(self.data[frame * FRAME_BYTES:(frame + 1) * FRAME_BYTES])

    def last_sounding(self, begin, end):
        """The last frame in [begin, end) before the first silence of SILENCE frames, or None."""
        run = 0
        for frame in range(begin, min(end, len(self.data) // FRAME_BYTES)):
            run = run + 1 if self.silent(frame) else 0
            if run == SILENCE:
                last = frame - SILENCE
                return last if last >= begin else None
        return None


class Keyboard:
    """Fake key and button events through the XTest extension on one open
    connection, each stamped when the X server has taken it (XSync)."""

    def __init__(self):
        self.x11 = ctypes.CDLL("libX11.so.6")
        self.xtst = ctypes.CDLL("libXtst.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XStringToKeysym.restype = ctypes.c_ulong
        self.display = ctypes.c_void_p(self.x11.XOpenDisplay(None))
        if not self.display:
            sys.exit("no X display")
        self.round_trips = []
        self.stop_round_trip = 0.0  # of the last event that acts

    def _code(self, name):
        return self.x11.XKeysymToKeycode(self.display, ctypes.c_ulong(self.x11.XStringToKeysym(name.encode())))

    def _sync(self, before):
        self.x11.XSync(self.display, 0)
        after = time.monotonic_ns()
        self.round_trips.append((after - before) / 1e6)
        self.stop_round_trip = self.round_trips[-1]
        return after

    def key(self, press, *names):
        """Presses (or releases) the keys in order; returns the stamp."""
        before = time.monotonic_ns()
        for name in names:
            self.xtst.XTestFakeKeyEvent(self.display, self._code(name), int(press), 0)
        return self._sync(before)

    def tap(self, *names):
        """Presses the keys in order, releases them in reverse; returns the press's stamp."""
        at = self.key(True, *names)
        press_round_trip = self.round_trips[-1]
        self.key(False, *reversed(names))
        self.stop_round_trip = press_round_trip
        return at

    def button(self, press, x=None, y=None):
        before = time.monotonic_ns()
        if x is not None:
            self.xtst.XTestFakeMotionEvent(self.display, -1, x, y, 0)
        self.xtst.XTestFakeButtonEvent(self.display, 1, int(press), 0)
        return self._sync(before)


def stop_by(keyboard, method, x, y):
    """Sends a stop; returns the stamp of the event that stops."""
    if method == "alt+s":
        return keyboard.tap("Alt_L", "s")  # the S press clicks
    if method == "Return":
        return keyboard.tap("Return")
    # A click: the press rests on the button as a hand's would; the release clicks.
    keyboard.button(True, x, y)
    time.sleep(0.08)
    return keyboard.button(False)


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    per_method = int(sys.argv[1])
    x, y = int(sys.argv[2]), int(sys.argv[3])
    latency = int(os.environ.get("REC_LATENCY_MS", "50"))
    seed = int(os.environ.get("SEED", str(random.randrange(1 << 30))))
    rng = random.Random(seed)
    methods = ["alt+s", "Return", "click"]

    keyboard = Keyboard()
    recorder = Recorder(latency)
    # Samples must flow and the idle sink's render-ahead must be over.
    deadline = time.monotonic() + 10
    while len(recorder.data) < RATE * FRAME_BYTES and time.monotonic() < deadline:
        time.sleep(0.05)
    time.sleep(2)

    stops = []  # method, stop stamp, next start stamp, the stop event's round trip
    start_at = keyboard.tap("Return")
    for _ in range(per_method):
        for method in rng.sample(methods, len(methods)):
            time.sleep(rng.uniform(0.5, 0.9))
            stop_at = stop_by(keyboard, method, x, y)
            trip = keyboard.stop_round_trip
            time.sleep(rng.uniform(0.4, 0.7))
            start_at = keyboard.tap("Return")
            stops.append([method, stop_at, start_at, trip])
    time.sleep(0.5)
    keyboard.tap("Return")
    time.sleep(3.5)  # the last stop's silence, and blocks for its timeline
    recorder.stop()

    results = {m: [] for m in methods}
    zeros = []
    faults = 0
    for n, (method, stop_at, next_start, round_trip) in enumerate(stops, 1):
        # A recorder that lost frames (PipeWire's capture can, when cycles
        # change) moves frame 0 later: the second before the stop and the
        # time up to the next start must agree.
        zero = recorder.frame_zero(stop_at - 1e9, stop_at)
        moved = (recorder.frame_zero(stop_at, next_start + 500e6) - zero) / 1e6
        zeros.append(zero)

        def frame_at(t, zero=zero):
            return int((t - zero) * RATE / 1e9)
        sounding = any(not recorder.silent(f) for f in range(frame_at(stop_at - 60e6), frame_at(stop_at - 10e6)))
        last = recorder.last_sounding(frame_at(stop_at - 100e6), frame_at(next_start))
        if not sounding or last is None:
            print(f"stop {n:2} {method:6} no sound before the stop")
            faults += 1
            continue
        ms = (zero + (last + 1) * 1e9 / RATE - stop_at) / 1e6
        results[method].append(ms)
        # The event reached the server within the round trip before its stamp.
        slow = f" (event round trip {round_trip:.1f} ms)" if round_trip > 2 else ""
        slow += f" (frame 0 moved {moved:.1f} ms: frames lost by the recorder)" if abs(moved) > 5 else ""
        print(f"stop {n:2} {method:6} {ms:7.1f} ms{slow}")

    print(f"seed {seed}, recorder latency {latency} ms; event to X server and back median "
          f"{statistics.median(keyboard.round_trips):.2f} ms, max {max(keyboard.round_trips):.2f} ms; "
          f"frame 0 moved by {(max(zeros) - min(zeros)) / 1e6:.1f} ms over the run")
    for method in methods:
        ms = results[method]
        if ms:
            print(f"{method:6} {len(ms)} stops: median {statistics.median(ms):.1f} ms, "
                  f"min {min(ms):.1f} ms, max {max(ms):.1f} ms")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
