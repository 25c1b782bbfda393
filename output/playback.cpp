#include "output/playback.h"

#include <QCoreApplication>
#include <string>

#include "engine/ranges.h"
#include "output/mm_err_msg.h"
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

std::string OpenFailureText(MMRESULT result) {
    if (result == WAVERR_BADFORMAT) return BadFormatText();
    return "Error opening waveform audio.\r" + std::string(ErrorText(static_cast<std::uint16_t>(result & 0xFFFF)));
}

}  // namespace

Playback::Playback(GeneratorState& gen, PlaybackView& view, WaveOutDevice& device, QObject* parent)
    : QObject(parent), gen_(gen), view_(view), device_(device) {}

Playback::~Playback() {
    // The device must not post to this object once it is gone.
    StopOutput();
}

void Playback::btnStartClick() {
    if (gen_.sweep_running) {
        StopOutput();
    } else {
        StartOutput();
    }
}

void Playback::StartOutput() {
    if (gen_.sweep_running) {
        StopOutput();
    }
    // A playback that ended by itself (the last chunk of a slow sweep) has
    // issued its close, but the close may not have been handled yet when a
    // Start comes in. Wait for it, so that its handler cannot act on the new
    // device and the old one is never lost.
    while (gen_.hWave_out != 0) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
    }
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
        gen_.sweep_running = false;
        gen_.hWave_out = 0;
        view_.ShowWarning(OpenFailureText(result));
        return;
    }
    gen_.hWave_out = handle;
    gen_.sweep_running = true;
    for (const PlaybackControl control : kLockedWhilePlaying) {
        view_.SetControlEnabled(control, false);
    }
    gen_.closed = false;
    if (!IsLooping(gen_.speed)) {
        view_.SetFnowText(std::to_string(gen_.f_min) + " Hz");
        view_.SetFnowVisible(true);
    }
}

void Playback::StopOutput() {
    if (!gen_.sweep_running) {
        return;
    }
    gen_.shutoff = true;
    device_.waveOutReset(gen_.hWave_out);
    gen_.sweep_running = false;
    gen_.closed = false;
    // The done notifications of the reset, then the close, arrive as posted
    // events. User input stays queued meanwhile, so a click on Start cannot
    // open a second device while this one is closing.
    while (!gen_.closed) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
    }
}

void Playback::RestartIfRunning() {
    if (gen_.sweep_running) {
        StartOutput();
    }
}

void Playback::MMWomOpen() {
    // A stop came before this notification: nothing has been queued, so no
    // done notification would ever close the device. Close it here.
    if (gen_.shutoff) {
        ResetAndClose();
        return;
    }
    view_.SetStartCaption("&STOP");
    if (!gen_.QueueFirstBuffers(*this)) {
        // StartOutput refuses what PrepareSweep cannot use; should the two
        // ever disagree, end the playback instead of leaving it unstoppable.
        gen_.shutoff = true;
        gen_.sweep_running = false;
        ResetAndClose();
    }
}

void Playback::MMWomDone(WAVEHDR* h) {
    if (!IsLooping(gen_.speed)) {
        ++gen_.buffers_played;
        if (!gen_.shutoff) {
            if (gen_.buffers_played < gen_.buffers_written) {
                view_.SetFnowText(FormatHz(gen_.last_f));
                gen_.QueueChunk(*h, *this);
            } else {
                gen_.shutoff = true;
                gen_.sweep_running = false;
            }
        }
    }
    if (gen_.shutoff) {
        ResetAndClose();
    }
}

void Playback::MMWomClose() {
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
    gen_.hWave_out = 0;
    gen_.closed = true;
    // The device closes by itself when it loses the sound server; the
    // playback is over then too, or the next Start would wait for a close
    // that already came.
    gen_.sweep_running = false;
}

void Playback::btnExitClick() {
    StopOutput();
    view_.CloseWindow();
}

void Playback::FormCloseQuery() {
    StopOutput();
    gen_.shutoff = true;
}

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
        MMWomClose();
    } else {
        QObject::customEvent(event);
    }
}

void Playback::ResetAndClose() {
    device_.waveOutReset(gen_.hWave_out);
    device_.waveOutClose(gen_.hWave_out);
}

}  // namespace quorvex
