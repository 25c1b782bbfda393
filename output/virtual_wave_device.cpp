// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/virtual_wave_device.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstring>

namespace quorvex {

MMRESULT VirtualWaveDevice::waveOutOpen(HWAVEOUT* handle, unsigned device, const WAVEFORMATEX& format,
                                        QObject* target) {
    calls_.emplace_back("open");
    *handle = 0;
    if (open_failure_ != MMSYSERR_NOERROR) {
        return open_failure_;
    }
    if (device != kDefaultWaveDevice) {
        return MMSYSERR_BADDEVICEID;
    }
    if (!WaveFormatSupported(format)) {
        return WAVERR_BADFORMAT;
    }
    if (open_handle_ != 0) {
        return MMSYSERR_ALLOCATED;
    }
    open_handle_ = ++last_handle_;
    ended_ = false;
    format_ = format;
    target_ = target;
    *handle = open_handle_;
    Post(MM_WOM_OPEN);
    return MMSYSERR_NOERROR;
}

bool VirtualWaveDevice::Accepts(HWAVEOUT handle, const char* call) {
    const bool open = handle != 0 && handle == open_handle_;
    calls_.push_back(open ? std::string(call) : std::string(call) + " (closed)");
    return open;
}

MMRESULT VirtualWaveDevice::waveOutPrepareHeader(HWAVEOUT handle, WAVEHDR* header) {
    if (!Accepts(handle, "prepare")) {
        return MMSYSERR_INVALHANDLE;
    }
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualWaveDevice::waveOutWrite(HWAVEOUT handle, WAVEHDR* header) {
    if (!Accepts(handle, "write")) {
        return MMSYSERR_INVALHANDLE;
    }
    if ((header->dwFlags & WHDR_PREPARED) == 0) {
        return WAVERR_UNPREPARED;
    }
    if (ended_) {
        return MMSYSERR_INVALPARAM;
    }
    MarkQueued(*header);
    if (queue_.empty()) {
        offset_ = 0;
        passes_left_ = PassesOf(*header);
    }
    queue_.push_back(header);
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualWaveDevice::waveOutReset(HWAVEOUT handle) {
    if (!Accepts(handle, "reset")) {
        return MMSYSERR_INVALHANDLE;
    }
    ended_ = false;
    ReturnAll();
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualWaveDevice::waveOutEndOfStream(HWAVEOUT handle) {
    if (!Accepts(handle, "end")) {
        return MMSYSERR_INVALHANDLE;
    }
    ended_ = true;
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualWaveDevice::waveOutClose(HWAVEOUT handle) {
    if (!Accepts(handle, "close")) {
        return MMSYSERR_INVALHANDLE;
    }
    Shut(LossCause::None);
    return MMSYSERR_NOERROR;
}

void VirtualWaveDevice::LoseDevice(LossCause cause) { Shut(cause); }

void VirtualWaveDevice::Shut(LossCause cause) {
    if (open_handle_ == 0) {
        return;
    }
    ReturnAll();
    if (hold_closes_) {
        held_closes_.push_back({target_, open_handle_, cause});
    } else if (target_) {
        QCoreApplication::postEvent(target_, new WaveOutEvent(MM_WOM_CLOSE, open_handle_, nullptr, cause));
    }
    open_handle_ = 0;
    target_ = nullptr;
}

void VirtualWaveDevice::ReleaseCloses() {
    for (const HeldClose& held : held_closes_) {
        if (held.target) {
            QCoreApplication::postEvent(held.target, new WaveOutEvent(MM_WOM_CLOSE, held.handle, nullptr, held.cause));
        }
    }
    held_closes_.clear();
}

MMRESULT VirtualWaveDevice::waveOutUnprepareHeader(HWAVEOUT handle, WAVEHDR* header) {
    if (!Accepts(handle, "unprepare")) {
        return MMSYSERR_INVALHANDLE;
    }
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

std::size_t VirtualWaveDevice::Advance(std::size_t frames) {
    const std::size_t frame_bytes = format_.nBlockAlign;
    std::size_t played = 0;
    while (played < frames && !queue_.empty()) {
        WAVEHDR* header = queue_.front();
        if (header->dwBufferLength < frame_bytes) {
            passes_left_ = 1;  // nothing to play, however often it loops
        }
        const std::size_t available = (header->dwBufferLength - offset_) / frame_bytes;
        const std::size_t take = std::min(available, frames - played);
        const std::size_t first = played_.size();
        played_.resize(first + take * frame_bytes / sizeof(std::int16_t));
        std::memcpy(played_.data() + first, header->lpData + offset_, take * frame_bytes);
        offset_ += take * frame_bytes;
        played += take;
        if (offset_ + frame_bytes > header->dwBufferLength) {
            offset_ = 0;
            if (--passes_left_ == 0) {
                queue_.pop_front();
                MarkDone(*header);
                Post(MM_WOM_DONE, header);
                if (!queue_.empty()) {
                    passes_left_ = PassesOf(*queue_.front());
                }
            }
        }
    }
    return played;
}

void VirtualWaveDevice::ReturnAll() {
    while (!queue_.empty()) {
        WAVEHDR* header = queue_.front();
        queue_.pop_front();
        MarkDone(*header);
        Post(MM_WOM_DONE, header);
    }
    offset_ = 0;
}

void VirtualWaveDevice::Post(QEvent::Type type, WAVEHDR* header) {
    if (target_) {
        QCoreApplication::postEvent(target_, new WaveOutEvent(type, open_handle_, header));
    }
}

}  // namespace quorvex
