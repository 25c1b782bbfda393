// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/playback.h"

#include <string>

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

bool Playing(PlaybackState state) {
    return state == PlaybackState::Opened || state == PlaybackState::Looping || state == PlaybackState::Streaming ||
           state == PlaybackState::Draining;
}

// A stop or an end is under way: the device is to close, or closing.
bool Ending(PlaybackState state) {
    return state == PlaybackState::Stopping || state == PlaybackState::Closing ||
           state == PlaybackState::StoppingThenStart || state == PlaybackState::ClosingThenStart;
}

bool StartWaiting(PlaybackState state) {
    return state == PlaybackState::StoppingThenStart || state == PlaybackState::ClosingThenStart;
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
    case PlaybackState::StoppingThenStart: return "StoppingThenStart";
    case PlaybackState::ClosingThenStart: return "ClosingThenStart";
    }
    return "?";
}

Playback::Playback(GeneratorState& gen, PlaybackView& view, WaveOutDevice& device, QObject* parent)
    : QObject(parent), gen_(gen), view_(view), device_(device) {
    close_timer_.setSingleShot(true);
    connect(&close_timer_, &QTimer::timeout, this, [this] { CloseOverdue(); });
}

Playback::~Playback() { FormDestroy(); }

// Every change of state goes through here, and with it the generator's
// flags that the engine and the handlers read: sweep_running while a
// playback runs; shutoff whenever none runs, so that no chunk is produced
// from the stop on (it is clear from the open, before the first chunk);
// hWave_out from the open until the device is closed; closed once it is.
// The Start button's caption and the stop's time limit follow it too.
void Playback::Enter(PlaybackState next, HWAVEOUT opened) {
    const bool was_ending = Ending(state_);
    state_ = next;
    gen_.sweep_running = Playing(next);
    gen_.shutoff = !Playing(next);
    gen_.closed = next == PlaybackState::Idle;
    if (next == PlaybackState::Opened) {
        gen_.hWave_out = opened;
    } else if (next == PlaybackState::Idle) {
        gen_.hWave_out = 0;
    }
    // One time limit per stop, from its first step to the close.
    if (!Ending(next)) {
        close_timer_.stop();
    } else if (!was_ending) {
        close_timer_.start(close_timeout_);
    }
    // The button reads "&STOP" from the open notification until the device
    // has closed; a click then stops, or cancels a start waiting for the close.
    if (next == PlaybackState::Idle) {
        view_.SetStartCaption("&Start");
    } else if (next != PlaybackState::Opened) {
        view_.SetStartCaption("&STOP");
    }
    if (next == PlaybackState::Draining) {
        // The last chunk is queued: only now may the device play out to the end.
        device_.waveOutEndOfStream(gen_.hWave_out);
    }
}

void Playback::btnStartClick() {
    // A start waiting for a close counts as running: the button reads
    // "&STOP" and a click cancels it.
    if (gen_.sweep_running || StartWaiting(state_)) {
        StopOutput();
    } else {
        StartOutput();
    }
}

void Playback::StartOutput() {
    switch (state_) {
    case PlaybackState::Idle: Open(); break;
    case PlaybackState::Opened:
    case PlaybackState::Looping:
    case PlaybackState::Streaming:
    case PlaybackState::Draining: Stop(PlaybackState::StoppingThenStart); break;
    case PlaybackState::Stopping: Enter(PlaybackState::StoppingThenStart); break;
    case PlaybackState::Closing: Enter(PlaybackState::ClosingThenStart); break;
    case PlaybackState::StoppingThenStart:
    case PlaybackState::ClosingThenStart: break;  // asked for already
    }
}

void Playback::StopOutput() {
    switch (state_) {
    case PlaybackState::Opened:
    case PlaybackState::Looping:
    case PlaybackState::Streaming:
    case PlaybackState::Draining: Stop(PlaybackState::Stopping); break;
    case PlaybackState::StoppingThenStart: Enter(PlaybackState::Stopping); break;
    case PlaybackState::ClosingThenStart: Enter(PlaybackState::Closing); break;
    case PlaybackState::Idle:
    case PlaybackState::Stopping:
    case PlaybackState::Closing: break;
    }
}

void Playback::RestartIfRunning() {
    if (gen_.sweep_running || StartWaiting(state_)) {
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

    HWAVEOUT handle = 0;
    const MMRESULT result = device_.waveOutOpen(&handle, kDefaultWaveDevice, gen_.pcm, this);
    if (result != MMSYSERR_NOERROR) {
        // Still Idle: no device, sweep_running false, controls untouched.
        view_.ShowWarning(OpenFailureText(result));
        return;
    }
    Enter(PlaybackState::Opened, handle);
    for (const PlaybackControl control : kLockedWhilePlaying) {
        view_.SetControlEnabled(control, false);
    }
    if (!IsLooping(gen_.speed)) {
        view_.SetFnowText(std::to_string(gen_.f_min) + " Hz");
        view_.SetFnowVisible(true);
    }
}

void Playback::Stop(PlaybackState next) {
    Enter(next);
    // Returns every queued header, each with a done notification; the first
    // of them closes the device. Stopped before the open notification,
    // nothing is queued yet: that notification closes it instead.
    device_.waveOutReset(gen_.hWave_out);
}

void Playback::CloseDevice() {
    Enter(StartWaiting(state_) ? PlaybackState::ClosingThenStart : PlaybackState::Closing);
    device_.waveOutUnprepareHeader(gen_.hWave_out, gen_.p_wave_hdr1);
    device_.waveOutUnprepareHeader(gen_.hWave_out, gen_.p_wave_hdr2);
    device_.waveOutClose(gen_.hWave_out);
}

void Playback::MMWomOpen() {
    switch (state_) {
    case PlaybackState::Opened:
        if (!gen_.QueueFirstBuffers(*this)) {
            // StartOutput refuses what PrepareSweep cannot use; should the two
            // ever disagree, end the playback instead of leaving it unstoppable.
            Stop(PlaybackState::Stopping);
            CloseDevice();
            return;
        }
        Enter(IsLooping(gen_.speed) ? PlaybackState::Looping
              : gen_.all_written()  ? PlaybackState::Draining
                                    : PlaybackState::Streaming);
        break;
    case PlaybackState::Stopping:
    case PlaybackState::StoppingThenStart:
        // The stop came before this notification: nothing was queued, so no
        // done notification will come to close the device.
        CloseDevice();
        break;
    default: break;
    }
}

void Playback::MMWomDone(WAVEHDR* h) {
    switch (state_) {
    case PlaybackState::Streaming:
    case PlaybackState::Draining: Refill(*h); break;
    case PlaybackState::Stopping:
    case PlaybackState::StoppingThenStart:
        // The first header the reset returned; any further one finds the
        // device closing and is left alone.
        CloseDevice();
        break;
    default:
        // Looping: the device handed the loop back by itself; its close
        // follows. Closing: the device is closed already.
        break;
    }
}

void Playback::Refill(WAVEHDR& header) {
    // The chunk queued last before this notification is the one starting now.
    const extended starting = gen_.last_f;
    if (gen_.HeaderDone(header, *this) == GeneratorState::HeaderReturn::AllPlayed) {
        EndOfStream();
        return;
    }
    view_.SetFnowText(FormatHz(starting));
    if (state_ == PlaybackState::Streaming && gen_.all_written()) {
        Enter(PlaybackState::Draining);
    }
}

void Playback::EndOfStream() {
    if (device_.waveOutReset(gen_.hWave_out) == MMSYSERR_INVALHANDLE) {
        // The device went away by itself, handing back what it held. Its
        // close notification is on its way and ends the playback as any
        // loss does, saying why.
        return;
    }
    CloseDevice();
}

void Playback::MMWomClose(LossCause cause) {
    if (Playing(state_)) {
        // Closed while it played, without our reset or close: the device
        // went away by itself.
        Finish();
        view_.ShowWarning(OutputLostText(cause));
    } else if (Ending(state_)) {
        Closed();
    }
}

void Playback::Closed() {
    const bool start = StartWaiting(state_);
    Finish();
    if (start) {
        Open();
    }
}

// The device that did not confirm its close (a sound server that no longer
// answers) is dropped: closed now if that was still to come, after which it
// posts nothing more; a late notification carries a handle that is no
// longer ours.
void Playback::CloseOverdue() {
    if (state_ == PlaybackState::Stopping || state_ == PlaybackState::StoppingThenStart) {
        CloseDevice();
    }
    if (Ending(state_)) {
        Closed();
    }
}

// The end of every playback: frequency table and controls back to idle.
void Playback::Finish() {
    // The headers live in plain memory that never moves: there is nothing to
    // re-lock, so "Failed to re-lock buffer p_wave_hdr1!" and its twin for
    // p_wave_hdr2 cannot occur.
    gen_.chunk_freq.reset();
    view_.SetFnowVisible(false);
    for (const PlaybackControl control : kEnabledAfterPlaying) {
        view_.SetControlEnabled(control, true);
    }
    view_.SetControlEnabled(PlaybackControl::chkOctaveMarker,
                            view_.IsControlEnabled(PlaybackControl::lblLastMarker));
    for (const PlaybackControl control : kEnabledAfterMarkerBox) {
        view_.SetControlEnabled(control, true);
    }
    Enter(PlaybackState::Idle);
}

// The device layer returns from the close without waiting on the server, so
// nothing here waits: once the close has returned the device posts nothing
// more, and what it posted before is dropped by the handle check.
void Playback::CloseNow() {
    switch (state_) {
    case PlaybackState::Idle: return;
    case PlaybackState::Opened:
    case PlaybackState::Looping:
    case PlaybackState::Streaming:
    case PlaybackState::Draining: Stop(PlaybackState::Stopping); [[fallthrough]];
    case PlaybackState::Stopping:
    case PlaybackState::StoppingThenStart: CloseDevice(); [[fallthrough]];
    case PlaybackState::Closing:
    case PlaybackState::ClosingThenStart: Finish(); break;
    }
}

void Playback::btnExitClick() {
    CloseNow();
    view_.CloseWindow();
}

void Playback::FormCloseQuery() { CloseNow(); }

void Playback::FormDestroy() { CloseNow(); }

void Playback::waveOutPrepareHeader(WAVEHDR& header) { device_.waveOutPrepareHeader(gen_.hWave_out, &header); }

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

}  // namespace quorvex
