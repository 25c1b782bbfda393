// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/noise_player.h"

#include "output/pulse_wave_device.h"
#include "output/wave_resource.h"

namespace quorvex {

NoisePlayer::NoisePlayer(QObject* parent)
    : QObject(parent), own_device_(std::make_unique<PulseWaveDevice>("White noise")), device_(*own_device_) {}

NoisePlayer::NoisePlayer(WaveOutDevice& device, QObject* parent) : QObject(parent), device_(device) {}

NoisePlayer::~NoisePlayer() { Stop(); }

bool NoisePlayer::PlayWaveResource(std::string_view name) {
    last_open_result_ = MMSYSERR_NOERROR;
    const std::optional<WaveData> wave = ReadWave(FindWaveResource(name));
    if (!wave || wave->samples.empty()) {
        return false;
    }
    Stop();
    HWAVEOUT handle = 0;
    last_open_result_ = device_.waveOutOpen(&handle, kDefaultWaveDevice, wave->format, this);
    if (last_open_result_ != MMSYSERR_NOERROR) {
        return false;
    }
    handle_ = handle;
    header_ = WAVEHDR{};
    // The device only reads the data; the resource stays in place for the
    // whole run, so it is played where it lies.
    header_.lpData = const_cast<char*>(reinterpret_cast<const char*>(wave->samples.data()));
    header_.dwBufferLength = static_cast<std::uint32_t>(wave->samples.size());
    header_.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
    header_.dwLoops = 0xFFFFFFFF;
    device_.waveOutPrepareHeader(handle_, &header_);
    device_.waveOutWrite(handle_, &header_);
    return true;
}

void NoisePlayer::Stop() {
    if (handle_ == 0) {
        return;
    }
    // The reset gives the header back; it is unprepared while the handle is
    // still open, since a closed device refuses every call.
    device_.waveOutReset(handle_);
    device_.waveOutUnprepareHeader(handle_, &header_);
    device_.waveOutClose(handle_);
    handle_ = 0;
}

void NoisePlayer::customEvent(QEvent* event) {
    // Stop forgets the handle before its own close arrives, and a new play
    // has a new one: a close on the handle still held was nobody's request.
    const auto* close = static_cast<WaveOutEvent*>(event);
    if (event->type() != MM_WOM_CLOSE || handle_ == 0 || close->handle() != handle_) {
        return;
    }
    handle_ = 0;  // the device has let go of it: nothing to reset or close
    if (lost_) lost_(close->cause());
}

}  // namespace quorvex
