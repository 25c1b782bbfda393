// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Wave data compiled into the program, found by name, and the RIFF/WAVE
// reading needed to play it.

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "engine/wave_format.h"

namespace quorvex {

// The bytes of the embedded wave file called `name` (matched without regard
// to case; "WhiteNoise" is the one there is), valid for the whole run; empty
// when there is none. Any thread.
std::span<const std::byte> FindWaveResource(std::string_view name);

struct WaveData {
    WAVEFORMATEX format;
    std::span<const std::byte> samples;
};

// The format and sample bytes of a RIFF/WAVE PCM file, or nullopt when the
// bytes are not one: not RIFF/WAVE, a chunk running past the end, no "fmt "
// chunk (or one too short, or not PCM) before the "data" chunk, no "data"
// chunk, or one of size 0. Never reads outside `file`. Any thread.
std::optional<WaveData> ReadWave(std::span<const std::byte> file);

}  // namespace quorvex
