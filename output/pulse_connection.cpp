// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/pulse_connection.h"

#include <pulse/rtclock.h>

namespace quorvex {

namespace {

// An open gives up when the server has accepted the connection but not
// answered within this time (a server that is stopped or hanging).
constexpr pa_usec_t kOpenTimeout = 1500 * PA_USEC_PER_MSEC;

}  // namespace

MMRESULT OpenFailureCode(int error) {
    switch (error) {
    case PA_ERR_NOENTITY:
    case PA_ERR_CONNECTIONREFUSED:
    case PA_ERR_CONNECTIONTERMINATED:
    case PA_ERR_INVALIDSERVER:
        return MMSYSERR_NODRIVER;
    case PA_ERR_NOTSUPPORTED:
    case PA_ERR_INVALID:
        return WAVERR_BADFORMAT;
    case PA_ERR_BUSY:
        return MMSYSERR_ALLOCATED;
    default:
        return MMSYSERR_ERROR;
    }
}

MMRESULT PulseConnection::Connect(std::function<void()> on_lost) {
    on_lost_ = std::move(on_lost);
    loop_ = pa_threaded_mainloop_new();
    if (!loop_) {
        return MMSYSERR_ERROR;
    }
    // What mixers show for every stream of this program: its name, and the
    // desktop entry's id and icon.
    pa_proplist* app = pa_proplist_new();
    pa_proplist_sets(app, PA_PROP_APPLICATION_NAME, "Quorvex");
    pa_proplist_sets(app, PA_PROP_APPLICATION_ID, "org.quorvex.Quorvex");
    pa_proplist_sets(app, PA_PROP_APPLICATION_ICON_NAME, "org.quorvex.Quorvex");
    context_ = pa_context_new_with_proplist(api(), "Quorvex", app);
    pa_proplist_free(app);
    if (!context_) {
        return MMSYSERR_ERROR;
    }
    pa_context_set_state_callback(context_, OnState, this);
    // Armed before the loop's thread runs, so without the lock: while it
    // stands, the open is under way.
    deadline_ = pa_context_rttime_new(context_, pa_rtclock_now() + kOpenTimeout, OnDeadline, this);
    // Never wait for a server to appear: without one the open fails at once.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        return OpenFailureCode(pa_context_errno(context_));
    }
    if (pa_threaded_mainloop_start(loop_) < 0) {
        return MMSYSERR_ERROR;
    }
    Lock lock{*this};
    if (!WaitOpen([this] { return pa_context_get_state(context_) == PA_CONTEXT_READY; })) {
        return OpenFailure();
    }
    return MMSYSERR_NOERROR;
}

bool PulseConnection::WaitOpen(const std::function<bool()>& settled) {
    while (!settled()) {
        if (!Good() || timed_out_) {
            return false;
        }
        pa_threaded_mainloop_wait(loop_);
    }
    return true;
}

MMRESULT PulseConnection::OpenFailure() const {
    if (timed_out_) {
        return kServerNoAnswer;
    }
    return OpenFailureCode(pa_context_errno(context_));
}

void PulseConnection::EndOpen() {
    if (deadline_) {
        api()->time_free(deadline_);
        deadline_ = nullptr;
    }
}

void PulseConnection::OnState(pa_context* context, void* self) {
    auto* connection = static_cast<PulseConnection*>(self);
    if (!connection->deadline_ && !PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
        connection->on_lost_();
    }
    connection->Signal();
}

void PulseConnection::OnDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
    auto* connection = static_cast<PulseConnection*>(self);
    connection->timed_out_ = true;
    connection->Signal();
}

void PulseConnection::Disconnect() {
    EndOpen();
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
}

void PulseConnection::Stop() {
    if (!loop_) {
        return;
    }
    {
        Lock lock{*this};
        Disconnect();
    }
    // Stopping joins the loop's thread, so it must run without the lock.
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
}

}  // namespace quorvex
