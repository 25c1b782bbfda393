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
#include <chrono>

#include "engine/generator.h"
#include "output/playback_view.h"
#include "output/wave_device.h"

class QEventLoop;

namespace quorvex {

// Where a playback stands. The generator's flags (sweep_running, shutoff,
// closed, hWave_out) follow from it and are written with it, in
// Playback::Enter.
enum class PlaybackState {
    Idle,       // no device
    Opened,     // device open, its open notification not yet handled
    Looping,    // one header queued, repeating until reset
    Streaming,  // two chunks in flight, each refilled as it comes back
    Draining,   // slow sweep: the last chunk is queued, the rest plays out
    Stopping,   // reset issued; its done notifications are on their way
    Closing,    // close issued; the close notification is on its way
};

// The state's name, for messages and test output.
const char* ToString(PlaybackState state);

class Playback : public QObject, public WaveOutSink {
public:
    // All three outlive the Playback.
    Playback(GeneratorState& gen, PlaybackView& view, WaveOutDevice& device, QObject* parent = nullptr);
    // Stops output for good (FormDestroy) before the device may no longer
    // post here.
    ~Playback() override;

    PlaybackState state() const { return state_; }
    // A Start asked for while a close was on its way; it runs once the close
    // has been handled.
    bool start_pending() const { return start_pending_; }

    // btnStart's click: stops a running (or pending) playback, otherwise
    // starts one.
    void btnStartClick();

    // Reads the limits and the marker box and opens the device. A running
    // playback is stopped first; while a close is on its way the start is
    // remembered and made once the close has been handled. Limits the engine
    // cannot use, missing buffers or a failed open are shown in the warning
    // dialog and change nothing.
    void StartOutput();

    // Ends a running playback and returns once the device has closed (at
    // most close_timeout later; a device that has not closed by then is
    // dropped). Cancels a pending start. A Start asked for while this waits
    // is made once, after the wait.
    void StopOutput();

    // For settings that need fresh output: a full stop and start while
    // running or about to start (limits read again, both phases at 0);
    // otherwise nothing.
    void RestartIfRunning();

    // The device's notifications (normally reached through customEvent).
    void MMWomOpen();
    void MMWomDone(WAVEHDR* h);
    // `cause`: why the device closed, when it closed by itself.
    void MMWomClose(LossCause cause = LossCause::None);

    // btnExit's click: StopOutput, then the window is closed.
    void btnExitClick();
    // The window's close request: StopOutput, then shutoff. Closing is
    // always allowed.
    void FormCloseQuery();
    // Window destruction: as FormCloseQuery. A Start asked for meanwhile
    // is dropped, as it is for the two above.
    void FormDestroy();

    // WaveOutSink: the header readied or queued on gen.hWave_out.
    void waveOutPrepareHeader(WAVEHDR& header) override;
    void waveOutWrite(WAVEHDR& header) override;

    // How long a stop waits for the device to close before dropping it.
    static constexpr std::chrono::milliseconds kCloseTimeout{2000};
    void set_close_timeout(std::chrono::milliseconds timeout) { close_timeout_ = timeout; }

protected:
    void customEvent(QEvent* event) override;

private:
    void Enter(PlaybackState next);
    void Open();
    void StopAndSettle(bool for_good);
    void WaitForClose();
    // Enters Closing, resets and closes the device; false when the device
    // had already closed by itself.
    bool ResetAndClose();
    void Finish();

    GeneratorState& gen_;
    PlaybackView& view_;
    WaveOutDevice& device_;
    PlaybackState state_ = PlaybackState::Idle;
    bool start_pending_ = false;
    bool gone_by_itself_ = false;  // the device closed by itself as a sweep ended
    // Set by a stop for good (exit, window close) while a wait is running,
    // so that the wait's owner drops any start asked for meanwhile.
    bool no_start_after_wait_ = false;
    QEventLoop* wait_ = nullptr;  // the one wait for a close, while it runs
    std::chrono::milliseconds close_timeout_ = kCloseTimeout;
};

}  // namespace quorvex
