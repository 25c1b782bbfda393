// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The sound device's records: the output format and the header that hands
// one buffer to the device. Field names follow the platform's published
// records so that the playback code reads like the device calls it makes.

#include <cstdint>

namespace quorvex {

struct WAVEFORMATEX {
    std::uint16_t wFormatTag = 0;
    std::uint16_t nChannels = 0;
    std::uint32_t nSamplesPerSec = 0;
    std::uint32_t nAvgBytesPerSec = 0;
    std::uint16_t nBlockAlign = 0;
    std::uint16_t wBitsPerSample = 0;
    std::uint16_t cbSize = 0;
};

inline constexpr std::uint16_t WAVE_FORMAT_PCM = 1;

// A buffer handed to the device. The device reads lpData asynchronously while
// the header is queued; nobody writes the buffer until it comes back.
struct WAVEHDR {
    char* lpData = nullptr;
    std::uint32_t dwBufferLength = 0;  // bytes
    std::uint32_t dwBytesRecorded = 0;
    std::uintptr_t dwUser = 0;
    std::uint32_t dwFlags = 0;
    std::uint32_t dwLoops = 0;  // with both loop flags: times the buffer is played
    WAVEHDR* lpNext = nullptr;
    std::uintptr_t reserved = 0;
};

inline constexpr std::uint32_t WHDR_DONE = 0x01;
inline constexpr std::uint32_t WHDR_PREPARED = 0x02;
inline constexpr std::uint32_t WHDR_BEGINLOOP = 0x04;
inline constexpr std::uint32_t WHDR_ENDLOOP = 0x08;
inline constexpr std::uint32_t WHDR_INQUEUE = 0x10;

}  // namespace quorvex
