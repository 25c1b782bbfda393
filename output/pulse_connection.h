// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One connection to the sound server (PulseAudio's client library, any
// server that speaks its protocol) with a threaded main loop of its own:
// connecting within a time limit, the loop's lock, and the loop's thread,
// which runs every callback of the connection and of its stream.
//
// Thread note: Connect, WaitOpen, Stop and the destructor run on the owner
// thread; Lock is taken there too. The loss callback runs on the loop's
// thread with the lock held.

#include <pulse/pulseaudio.h>

#include <functional>

#include "output/wave_device.h"

namespace quorvex {

class PulseConnection {
public:
    // Holds the loop's lock for a scope. Owner thread only: the loop's own
    // callbacks already run with it held.
    class Lock {
    public:
        explicit Lock(PulseConnection& connection) : loop_(connection.loop_) { pa_threaded_mainloop_lock(loop_); }
        ~Lock() { pa_threaded_mainloop_unlock(loop_); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* loop_;
    };

    PulseConnection() = default;
    // Stops the loop's thread and lets go of the connection.
    ~PulseConnection() { Stop(); }
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // Connects to the default server, never waiting for one to appear, and
    // starts the loop's thread. MMSYSERR_NOERROR once the server is ready;
    // otherwise the open's result code (kServerNoAnswer when the server took
    // the connection but did not answer within the time limit, which runs
    // from here until EndOpen). `on_lost` is called on the loop's thread once
    // the connection fails after EndOpen.
    MMRESULT Connect(std::function<void()> on_lost);

    // With the lock held, during the open: waits until `settled` holds;
    // false when the connection failed or the time limit passed first
    // (OpenFailure() then says which).
    bool WaitOpen(const std::function<bool()>& settled);
    MMRESULT OpenFailure() const;

    // With the lock held: the open is over; from now on a failure of the
    // connection is a loss.
    void EndOpen();

    // With the lock held: wakes a WaitOpen to look again.
    void Signal() { pa_threaded_mainloop_signal(loop_, 0); }

    // Whether the connection still stands. With the lock held.
    bool Good() const { return context_ && PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)); }

    // Whether the loop's thread may run (from Connect until Stop).
    bool running() const { return loop_ != nullptr; }
    pa_context* context() const { return context_; }
    pa_mainloop_api* api() const { return pa_threaded_mainloop_get_api(loop_); }

    // With the lock held: closes the connection; the loop runs on.
    void Disconnect();
    // Without the lock: ends the loop's thread (joining it) and frees the
    // loop. Harmless when already stopped.
    void Stop();

private:
    static void OnState(pa_context* context, void* self);
    static void OnDeadline(pa_mainloop_api* api, pa_time_event* event, const struct timeval* tv, void* self);

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    std::function<void()> on_lost_;
    // Guarded by the loop's lock.
    // The open's time limit, from Connect until EndOpen: while it stands, a
    // failure of the connection fails the open instead of being a loss.
    pa_time_event* deadline_ = nullptr;
    bool timed_out_ = false;  // the open's time limit passed
};

// A result code for a failure the client library reports as `error`
// (PA_ERR_*).
MMRESULT OpenFailureCode(int error);

}  // namespace quorvex
