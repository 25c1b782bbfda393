// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Playback of the generator's sound through the wave output device: open,
// first buffers, refill on each done notification, stop, close, restart, and
// putting the controls back when a playback ends.
//
// Why a separate object: the main window owns one Playback and is its only
// user. Playback reaches the window's controls through the narrow
// PlaybackView, and the device posts its open/done/close notifications to
// Playback itself (customEvent dispatches them), so that neither the device
// layer nor this code needs a widget. Playback is the engine's WaveOutSink:
// the engine's chunks reach the device through it, on gen.hWave_out.
//
// Thread note: everything here runs on the user-interface thread.

#include <QObject>
#include <QTimer>
#include <chrono>

#include "engine/generator.h"
#include "output/playback_view.h"
#include "output/wave_device.h"

namespace quorvex {

// Where a playback stands: the one truth about it. The generator's flags
// (sweep_running, shutoff, closed, hWave_out) follow from it and are written
// with it, in Playback::Enter.
//
// Nothing waits: a stop issues the reset and returns; the done notification
// it raises closes the device, and the close notification ends the
// playback. A start asked for meanwhile is part of the state (the two
// ...ThenStart states) and is made once the close has been handled.
enum class PlaybackState {
    Idle,               // no device
    Opened,             // device open, its open notification not yet handled
    Looping,            // one header queued, repeating until reset
    Streaming,          // two chunks in flight, each refilled as it comes back
    Draining,           // slow sweep: the last chunk is queued, the rest plays out
    Stopping,           // reset issued; a done (or the open) notification will close the device
    Closing,            // close issued; the close notification is on its way
    StoppingThenStart,  // Stopping, and a start is to be made once closed
    ClosingThenStart,   // Closing, and a start is to be made once closed
};

// The state's name, for messages and test output.
const char* ToString(PlaybackState state);

class Playback : public QObject, public WaveOutSink {
public:
    // All three outlive the Playback.
    Playback(GeneratorState& gen, PlaybackView& view, WaveOutDevice& device, QObject* parent = nullptr);
    // FormDestroy: the device is closed and dropped, so that it posts
    // nothing to this object afterwards.
    ~Playback() override;

    PlaybackState state() const { return state_; }

    // btnStart's click: stops a running playback or cancels a start waiting
    // for a close; otherwise starts.
    void btnStartClick();

    // Idle: reads the limits and the marker box and opens the device (limits
    // the engine cannot use, missing buffers or a failed open are shown in
    // the warning dialog and change nothing). Running: stops it and starts
    // afresh once the device has closed. Stopping or closing: the start is
    // made once the close has been handled (once, however often asked for).
    void StartOutput();

    // Ends a running playback: issues the reset and returns; the device
    // closes on the notifications that follow (or, should it not confirm
    // its close within close_timeout, is dropped). Cancels a start waiting
    // for a close.
    void StopOutput();

    // For settings that need fresh output: while running or about to start,
    // a full stop and start (limits read again, both phases at 0); otherwise
    // nothing.
    void RestartIfRunning();

    // The device's notifications (normally reached through customEvent).
    void MMWomOpen();
    void MMWomDone(WAVEHDR* h);
    // `cause`: why the device closed, when it closed by itself.
    void MMWomClose(LossCause cause = LossCause::None);

    // btnExit's click: the device is closed now, then the window is closed.
    void btnExitClick();
    // The window's close request: the device is closed now, without waiting
    // for the server to confirm; a start waiting for a close is dropped.
    // Closing is always allowed.
    void FormCloseQuery();
    // Window destruction: as FormCloseQuery.
    void FormDestroy();

    // WaveOutSink: the header readied or queued on gen.hWave_out.
    void waveOutPrepareHeader(WAVEHDR& header) override;
    void waveOutWrite(WAVEHDR& header) override;

    // How long a stop gives the device to confirm its close before dropping
    // it (a sound server that no longer answers).
    static constexpr std::chrono::milliseconds kCloseTimeout{2000};
    void set_close_timeout(std::chrono::milliseconds timeout) { close_timeout_ = timeout; }

protected:
    void customEvent(QEvent* event) override;

private:
    // The one place the state changes, and with it the generator's flags.
    // `opened` is the new device's handle, for Opened only.
    void Enter(PlaybackState next, HWAVEOUT opened = 0);
    void Open();
    // Enters Stopping (or StoppingThenStart) and resets the device.
    void Stop(PlaybackState next);
    // Unprepares both headers while the device is still open, closes it and
    // enters Closing (or ClosingThenStart, keeping a waiting start).
    void CloseDevice();
    // Every chunk has come back: reset and close, or, when the device has
    // gone by itself, end here and say so.
    void EndOfStream();
    // Refills a header returned while Streaming or Draining.
    void Refill(WAVEHDR& header);
    // The device has closed (or is dropped): controls back to idle, Idle,
    // then the start waiting for the close, if any.
    void Closed();
    // Exit, close request, destruction: close the device now and drop it.
    void CloseNow();
    // The close did not come within close_timeout_.
    void CloseOverdue();
    void Finish();

    GeneratorState& gen_;
    PlaybackView& view_;
    WaveOutDevice& device_;
    PlaybackState state_ = PlaybackState::Idle;
    // Runs from the stop to the close notification; see CloseOverdue.
    QTimer close_timer_;
    std::chrono::milliseconds close_timeout_ = kCloseTimeout;
};

}  // namespace quorvex
