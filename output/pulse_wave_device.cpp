// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/pulse_wave_device.h"

#include <QCoreApplication>

#include "output/pulse_stream.h"

namespace quorvex {

namespace {

// Posted to the Reaper by a stream's loop thread when the stream is lost.
constexpr QEvent::Type kStreamLost = static_cast<QEvent::Type>(QEvent::User + 0x3C0);

}  // namespace

PulseWaveDevice::PulseWaveDevice(std::string stream_name)
    : stream_name_(std::move(stream_name)), counters_(std::make_unique<StreamCounters>()) {}

PulseWaveDevice::~PulseWaveDevice() = default;

void PulseWaveDevice::ForgetLost() {
    std::erase_if(streams_, [](const auto& entry) { return entry.second->state() == StreamState::Lost; });
}

PulseStream* PulseWaveDevice::Find(HWAVEOUT handle) {
    const auto it = streams_.find(handle);
    if (it == streams_.end()) {
        return nullptr;
    }
    if (it->second->state() == StreamState::Lost) {
        // Its close has been posted; the handle is no longer valid.
        streams_.erase(it);
        return nullptr;
    }
    return it->second.get();
}

MMRESULT PulseWaveDevice::waveOutOpen(HWAVEOUT* handle, unsigned device, const WAVEFORMATEX& format,
                                      QObject* target) {
    *handle = 0;
    if (device != kDefaultWaveDevice) {
        return MMSYSERR_BADDEVICEID;
    }
    if (!WaveFormatSupported(format)) {
        return WAVERR_BADFORMAT;
    }
    auto stream = std::make_unique<PulseStream>(last_handle_ + 1, target, *counters_, [this] {
        QCoreApplication::postEvent(&reaper_, new QEvent(kStreamLost));
    });
    const MMRESULT result = stream->Open(stream_name_, format);
    if (result != MMSYSERR_NOERROR) {
        return result;
    }
    *handle = ++last_handle_;
    streams_.emplace(*handle, std::move(stream));
    return MMSYSERR_NOERROR;
}

MMRESULT PulseWaveDevice::waveOutPrepareHeader(HWAVEOUT handle, WAVEHDR* header) {
    if (!Find(handle)) {
        return MMSYSERR_INVALHANDLE;
    }
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT PulseWaveDevice::waveOutWrite(HWAVEOUT handle, WAVEHDR* header) {
    PulseStream* stream = Find(handle);
    if (!stream) {
        return MMSYSERR_INVALHANDLE;
    }
    if ((header->dwFlags & WHDR_PREPARED) == 0) {
        return WAVERR_UNPREPARED;
    }
    return stream->Write(header);
}

MMRESULT PulseWaveDevice::waveOutReset(HWAVEOUT handle) {
    PulseStream* stream = Find(handle);
    return stream ? stream->Reset() : MMSYSERR_INVALHANDLE;
}

MMRESULT PulseWaveDevice::waveOutClose(HWAVEOUT handle) {
    PulseStream* stream = Find(handle);
    if (!stream) {
        return MMSYSERR_INVALHANDLE;
    }
    const MMRESULT result = stream->Close();
    streams_.erase(handle);
    return result;
}

MMRESULT PulseWaveDevice::waveOutUnprepareHeader(HWAVEOUT handle, WAVEHDR* header) {
    if (!Find(handle)) {
        return MMSYSERR_INVALHANDLE;
    }
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT PulseWaveDevice::waveOutEndOfStream(HWAVEOUT handle) {
    PulseStream* stream = Find(handle);
    return stream ? stream->EndOfStream() : MMSYSERR_INVALHANDLE;
}

std::uint64_t PulseWaveDevice::BytesWritten(HWAVEOUT handle) {
    PulseStream* stream = Find(handle);
    return stream ? stream->BytesWritten() : 0;
}

std::uint64_t PulseWaveDevice::Underruns(HWAVEOUT handle) {
    PulseStream* stream = Find(handle);
    return stream ? stream->Underruns() : 0;
}

std::uint64_t PulseWaveDevice::TotalUnderruns() const { return counters_->underruns.load(std::memory_order_relaxed); }

std::uint64_t PulseWaveDevice::TotalDrains() const { return counters_->drains.load(std::memory_order_relaxed); }

}  // namespace quorvex
