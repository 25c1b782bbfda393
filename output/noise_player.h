// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Plays an embedded wave resource over its own output stream, looped without
// a gap until stopped, mixed by the sound server with whatever else plays.
// The tone output is untouched by it and does not touch it.
//
// Thread note: user-interface thread only.

#include <QObject>
#include <functional>
#include <memory>
#include <string_view>
#include <utility>

#include "output/wave_device.h"

namespace quorvex {

class NoisePlayer : public QObject {
public:
    // Plays through a device of its own.
    explicit NoisePlayer(QObject* parent = nullptr);
    // Plays through `device`, which outlives the player.
    explicit NoisePlayer(WaveOutDevice& device, QObject* parent = nullptr);
    // Stops.
    ~NoisePlayer() override;

    // Starts playing the resource `name` (found without regard to case),
    // looped, replacing what this player played before. A missing or
    // unreadable resource or a device that cannot play it (a sound server
    // that does not answer included: the open gives up within 2 s) changes
    // nothing audible; returns whether playing started.
    bool PlayWaveResource(std::string_view name);

    // The device's answer to the last open that PlayWaveResource tried:
    // MMSYSERR_NOERROR, or why the device could not play (kServerNoAnswer
    // for a sound server that did not answer). Stays MMSYSERR_NOERROR when
    // the resource itself was missing, since no device was asked.
    MMRESULT last_open_result() const { return last_open_result_; }

    // Stops playing; nothing happens when nothing plays.
    void Stop();

    bool playing() const { return handle_ != 0; }

    // Called once each time the noise stops without a Stop: the device
    // closed the stream by itself, for the reason given (the sound server
    // or the output went away). playing() is false by then, and the next
    // PlayWaveResource opens afresh.
    void SetLostHandler(std::function<void(LossCause)> lost) { lost_ = std::move(lost); }

protected:
    // Of the device's notifications only a close that no Stop asked for
    // matters: a stop already knows everything the others would say.
    void customEvent(QEvent* event) override;

private:
    std::unique_ptr<WaveOutDevice> own_device_;
    WaveOutDevice& device_;
    HWAVEOUT handle_ = 0;
    MMRESULT last_open_result_ = MMSYSERR_NOERROR;
    WAVEHDR header_{};
    std::function<void(LossCause)> lost_;
};

}  // namespace quorvex
