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

#include "engine/generator.h"
#include "output/playback_view.h"
#include "output/wave_device.h"

namespace quorvex {

class Playback : public QObject, public WaveOutSink {
public:
    // All three outlive the Playback.
    Playback(GeneratorState& gen, PlaybackView& view, WaveOutDevice& device, QObject* parent = nullptr);
    ~Playback() override;

    // btnStart's click: stops a running playback, otherwise starts one.
    void btnStartClick();

    // Stops a running playback, reads the limits and the marker box and
    // opens the device. Limits the engine cannot use, missing buffers or a
    // failed open are shown in the warning dialog and change nothing.
    void StartOutput();

    // Ends a running playback and returns only when the device has closed.
    // While waiting it dispatches posted events but holds user input back,
    // so no second device can be opened while this one closes.
    void StopOutput();

    // For settings that need fresh output: a full stop and start while
    // running (limits read again, both phases at 0); otherwise nothing.
    void RestartIfRunning();

    // The device's notifications (normally reached through customEvent).
    void MMWomOpen();
    void MMWomDone(WAVEHDR* h);
    void MMWomClose();

    // btnExit's click: StopOutput, then the window is closed.
    void btnExitClick();
    // The window's close request: StopOutput, then shutoff. Closing is
    // always allowed.
    void FormCloseQuery();

    // WaveOutSink: the header readied or queued on gen.hWave_out.
    void waveOutPrepareHeader(WAVEHDR& header) override;
    void waveOutWrite(WAVEHDR& header) override;

protected:
    void customEvent(QEvent* event) override;

private:
    void ResetAndClose();

    GeneratorState& gen_;
    PlaybackView& view_;
    WaveOutDevice& device_;
};

}  // namespace quorvex
