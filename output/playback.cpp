// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/playback.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <string>
#include <utility>

#include "engine/ranges.h"
#include "output/start_texts.h"

namespace quorvex {

namespace {

constexpr PlaybackControl kLockedWhilePlaying[] = {
    PlaybackControl::grpChannels, PlaybackControl::grpOctaveMarkers, PlaybackControl::chkOctaveMarker,
    PlaybackControl::edtF1,       PlaybackControl::edtF2,
};

constexpr PlaybackControl kEnabledAfterPlaying[] = {
    PlaybackControl::grpChannels,  PlaybackControl::grpOctaveMarkers, PlaybackControl::gbFrequencyRange,
    PlaybackControl::grpSweepMode, PlaybackControl::grpSweepSpeed,
};

constexpr PlaybackControl kEnabledAfterMarkerBox[] = {
    PlaybackControl::edtF1,         PlaybackControl::edtF2,         PlaybackControl::tkbLeftLevel,
    PlaybackControl::tkbRightLevel, PlaybackControl::lblLeftLevel,  PlaybackControl::lblRightLevel,
    PlaybackControl::chkLeft,       PlaybackControl::chkRight,
};

// How often a wait for a close looks for notifications the event loop has
// not handed out, and at its deadline.
constexpr std::chrono::milliseconds kWaitTick{5};

bool Playing(PlaybackState state) {
    return state == PlaybackState::Opened || state == PlaybackState::Looping || state == PlaybackState::Streaming ||
           state == PlaybackState::Draining;
}

std::string OpenFailureText(MMRESULT result) {
    if (result == WAVERR_BADFORMAT) return BadFormatText();
    return "Error opening waveform audio.\r" + OpenFailureReason(result);
}

}  // namespace

const char* ToString(PlaybackState state) {
    switch (state) {
    case PlaybackState::Idle: return "Idle";
    case PlaybackState::Opened: return "Opened";
    case PlaybackState::Looping: return "Looping";
    case PlaybackState::Streaming: return "Streaming";
    case PlaybackState::Draining: return "Draining";
    case PlaybackState::Stopping: return "Stopping";
    case PlaybackState::Closing: return "Closing";
    }
    return "?";
}

Playback::Playback(GeneratorState& gen, PlaybackView& view, WaveOutDevice& device, QObject* parent)
    : QObject(parent), gen_(gen), view_(view), device_(device) {}

// The device must not post to this object once it is gone.
Playback::~Playback() { FormDestroy(); }

// Every change of state goes through here, and with it the generator's
// flags that the engine and the handlers read: sweep_running while a
// playback runs, shutoff from the stop on, closed and hWave_out = 0 once the
// close has been handled. (StartOutput clears shutoff before the open, as
// the queueing code expects; a failed open stays Idle.)
void Playback::Enter(PlaybackState next) {
    state_ = next;
    gen_.sweep_running = Playing(next);
    switch (next) {
    case PlaybackState::Idle:
        gen_.hWave_out = 0;
        gen_.closed = true;
        break;
    case PlaybackState::Opened:
        gen_.closed = false;
        break;
    case PlaybackState::Looping:
    case PlaybackState::Streaming:
        break;
    case PlaybackState::Draining:
        // The last chunk is queued: only now may the device play out to the end.
        device_.waveOutEndOfStream(gen_.hWave_out);
        break;
    case PlaybackState::Stopping:
    case PlaybackState::Closing:
        gen_.shutoff = true;
        gen_.closed = false;
        break;
    }
}

void Playback::btnStartClick() {
    // A start waiting for a close counts as running: the button reads
    // "&STOP" and a click cancels it.
    if (gen_.sweep_running || start_pending_) {
        StopOutput();
    } else {
        StartOutput();
    }
}

void Playback::StartOutput() {
    if (wait_ || state_ == PlaybackState::Stopping || state_ == PlaybackState::Closing) {
        // A close is on its way: remember the start (once, however often it
        // is asked for) and make it when the close has been handled.
        start_pending_ = true;
    } else if (Playing(state_)) {
        start_pending_ = true;
        StopAndSettle(false);
    } else {
        Open();
    }
}

void Playback::StopOutput() {
    start_pending_ = false;  // a stop cancels a start waiting for a close
    StopAndSettle(false);
}

void Playback::RestartIfRunning() {
    if (gen_.sweep_running || start_pending_) {
        StartOutput();
    }
}

void Playback::Open() {
    const std::int32_t f_min = LowerLimitFromText(view_.LowerLimitText());
    const std::int32_t f_max = UpperLimitFromText(view_.UpperLimitText());
    // Refused here, before anything changes: the open handler could not
    // prepare output for these, and nothing would ever come back to stop it.
    if (!LimitsUsable(f_min, f_max)) {
        view_.ShowWarning("Cannot start: both frequency limits must be above 0 Hz.\r(lower limit " +
                          std::to_string(f_min) + " Hz, upper limit " + std::to_string(f_max) + " Hz)");
        return;
    }
    if (!gen_.HasMemory()) {
        view_.ShowWarning(MissingMemoryText(gen_));
        return;
    }

    gen_.f_min = f_min;
    gen_.f_max = f_max;
    gen_.do_markers = view_.OctaveMarkerChecked();
    view_.SetLastMarkerText("Last at:");
    gen_.left_angle = 0;
    gen_.right_angle = 0;
    gen_.shutoff = false;

    HWAVEOUT handle = 0;
    const MMRESULT result = device_.waveOutOpen(&handle, kDefaultWaveDevice, gen_.pcm, this);
    if (result != MMSYSERR_NOERROR) {
        // Still Idle: no device, sweep_running false, controls untouched.
        view_.ShowWarning(OpenFailureText(result));
        return;
    }
    gen_.hWave_out = handle;
    Enter(PlaybackState::Opened);
    for (const PlaybackControl control : kLockedWhilePlaying) {
        view_.SetControlEnabled(control, false);
    }
    if (!IsLooping(gen_.speed)) {
        view_.SetFnowText(std::to_string(gen_.f_min) + " Hz");
        view_.SetFnowVisible(true);
    }
}

// Stops a playback and waits for its close, then makes a start asked for
// meanwhile (unless a stop for good came too). Inside a wait that is already
// running it only leaves its flags for that wait's owner: no stop or start
// ever runs inside another one's wait.
void Playback::StopAndSettle(bool for_good) {
    if (for_good) {
        no_start_after_wait_ = true;
    }
    if (wait_) {
        return;
    }
    if (Playing(state_)) {
        Enter(PlaybackState::Stopping);
        device_.waveOutReset(gen_.hWave_out);
    }
    if (state_ == PlaybackState::Stopping || state_ == PlaybackState::Closing) {
        WaitForClose();
    }
    const bool drop_start = std::exchange(no_start_after_wait_, false);
    if (std::exchange(start_pending_, false) && !drop_start) {
        Open();
    }
}

// The one nested event loop of playback. It runs until this playback's close
// notification has been handled, or close_timeout_ at most. User input stays
// queued; posted events and timers run. Among them are the done and close
// notifications waited for, and anything a timer delivers: a shortcut's
// delayed click on Start, the level timer's restart, a selection handler's
// restart. While wait_ is set none of those opens or closes a device:
// StartOutput only sets start_pending_, a stop only clears it (and a stop for
// good marks it to be dropped), and StopAndSettle, which owns the wait, makes
// what is left once, after the loop. The done and close handlers act only on
// the device being closed, as they would outside the wait.
void Playback::WaitForClose() {
    QEventLoop loop;
    const QDeadlineTimer deadline(close_timeout_);
    // Inside the delivery of a posted event (a click from a zero-time single
    // shot, say) the event dispatcher has been seen not to hand out a
    // notification posted meanwhile, so the tick delivers posted events
    // itself; it also ends the wait at the deadline.
    QTimer tick;
    connect(&tick, &QTimer::timeout, &loop, [this, &loop, &deadline] {
        QCoreApplication::sendPostedEvents();
        if (state_ == PlaybackState::Idle || deadline.hasExpired()) {
            loop.quit();
        }
    });
    tick.start(kWaitTick);
    wait_ = &loop;
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    wait_ = nullptr;
    if (state_ != PlaybackState::Idle) {
        // The device did not close in time (a sound server that no longer
        // answers). Close it again, after which it posts nothing more, and
        // drop it: any late notification carries a handle that is no longer
        // ours.
        ResetAndClose();
        Finish();
    }
}

void Playback::MMWomOpen() {
    // A stop came before this notification: nothing has been queued, so no
    // done notification would ever close the device. Close it here.
    if (state_ != PlaybackState::Opened) {
        ResetAndClose();
        return;
    }
    view_.SetStartCaption("&STOP");
    if (!gen_.QueueFirstBuffers(*this)) {
        // StartOutput refuses what PrepareSweep cannot use; should the two
        // ever disagree, end the playback instead of leaving it unstoppable.
        ResetAndClose();
        return;
    }
    Enter(IsLooping(gen_.speed) ? PlaybackState::Looping
          : gen_.all_written    ? PlaybackState::Draining
                                : PlaybackState::Streaming);
}

void Playback::MMWomDone(WAVEHDR* h) {
    if (!IsLooping(gen_.speed)) {
        ++gen_.buffers_played;
        if (!gen_.shutoff) {
            if (gen_.buffers_played < gen_.buffers_written) {
                view_.SetFnowText(FormatHz(gen_.last_f));
                gen_.QueueChunk(*h, *this);
                if (gen_.all_written && state_ == PlaybackState::Streaming) {
                    Enter(PlaybackState::Draining);
                }
            } else {
                // Every chunk is back. A device that went away hands back
                // what it still held and closes by itself; then our reset
                // finds it closed already and the close to come is not ours.
                gone_by_itself_ = !ResetAndClose();
            }
            return;
        }
    }
    if (gen_.shutoff) {
        ResetAndClose();
    }
}

void Playback::MMWomClose(LossCause cause) {
    // Closed while it played, without our reset or close: the sound server
    // went away.
    const bool lost = Playing(state_) || gone_by_itself_;
    Finish();
    if (wait_) {
        wait_->quit();  // StopAndSettle makes a pending start after the wait
    } else if (lost) {
        view_.ShowWarning(OutputLostText(cause));
    } else if (std::exchange(start_pending_, false)) {
        Open();
    }
}

// The end of every playback: headers, frequency table and controls back to
// idle.
void Playback::Finish() {
    device_.waveOutUnprepareHeader(gen_.hWave_out, gen_.p_wave_hdr1);
    device_.waveOutUnprepareHeader(gen_.hWave_out, gen_.p_wave_hdr2);
    // The headers live in plain memory that never moves: there is nothing to
    // re-lock, so "Failed to re-lock buffer p_wave_hdr1!" and its twin for
    // p_wave_hdr2 cannot occur.
    gen_.chunk_freq.reset();
    view_.SetFnowVisible(false);
    view_.SetStartCaption("&Start");
    for (const PlaybackControl control : kEnabledAfterPlaying) {
        view_.SetControlEnabled(control, true);
    }
    view_.SetControlEnabled(PlaybackControl::chkOctaveMarker,
                            view_.IsControlEnabled(PlaybackControl::lblLastMarker));
    for (const PlaybackControl control : kEnabledAfterMarkerBox) {
        view_.SetControlEnabled(control, true);
    }
    gone_by_itself_ = false;
    Enter(PlaybackState::Idle);
}

void Playback::btnExitClick() {
    start_pending_ = false;
    StopAndSettle(true);
    view_.CloseWindow();
}

void Playback::FormCloseQuery() {
    start_pending_ = false;
    StopAndSettle(true);
    gen_.shutoff = true;
}

void Playback::waveOutPrepareHeader(WAVEHDR& header) { device_.waveOutPrepareHeader(gen_.hWave_out, &header); }

void Playback::FormDestroy() { FormCloseQuery(); }

void Playback::waveOutWrite(WAVEHDR& header) { device_.waveOutWrite(gen_.hWave_out, &header); }

void Playback::customEvent(QEvent* event) {
    const QEvent::Type type = event->type();
    if ((type == MM_WOM_OPEN || type == MM_WOM_DONE || type == MM_WOM_CLOSE) &&
        static_cast<WaveOutEvent*>(event)->handle() != gen_.hWave_out) {
        return;  // from a device that is no longer ours
    }
    if (type == MM_WOM_OPEN) {
        MMWomOpen();
    } else if (type == MM_WOM_DONE) {
        MMWomDone(static_cast<WaveOutEvent*>(event)->header());
    } else if (type == MM_WOM_CLOSE) {
        MMWomClose(static_cast<WaveOutEvent*>(event)->cause());
    } else {
        QObject::customEvent(event);
    }
}

bool Playback::ResetAndClose() {
    Enter(PlaybackState::Closing);
    const bool was_open = device_.waveOutReset(gen_.hWave_out) != MMSYSERR_INVALHANDLE;
    device_.waveOutClose(gen_.hWave_out);
    return was_open;
}

}  // namespace quorvex
