// SPDX-License-Identifier: GPL-3.0-or-later
// Sine tables and the phase-accumulator oscillator.

#include <algorithm>
#include <cmath>
#include <numbers>

#include "engine/generator.h"

namespace quorvex {

namespace {

// Stores a rounded value as a sample; amplitudes beyond 1 would exceed the
// 16-bit range, so the value is held to -32767..32767.
audio_sample ToSample(extended rounded) {
    return static_cast<audio_sample>(std::clamp(rounded, -32767.0L, 32767.0L));
}

}  // namespace

void BuildSineTable(TSineTable& table, extended amplitude) {
    constexpr int kQuarter = kSineTableLength / 4;
    constexpr int kHalf = kSineTableLength / 2;
    const audio_sample peak = ToSample(nearbyintl(amplitude * 32767.0L));
    table[0] = 0;
    table[kQuarter] = peak;
    table[kHalf] = 0;
    table[kHalf + kQuarter] = static_cast<audio_sample>(-peak);
    for (int i = 1; i < kQuarter; ++i) {
        const extended angle = static_cast<extended>(i * 2) * std::numbers::pi_v<extended> / kSineTableLength;
        const audio_sample v = ToSample(nearbyintl((sinl(angle) * 32767.0L) * amplitude));
        table[i] = v;
        table[kHalf - i] = v;
        table[kHalf + i] = static_cast<audio_sample>(-v);
        table[kSineTableLength - i] = static_cast<audio_sample>(-v);
    }
}

void GeneratorState::EnsureLeftTable() {
    if (left_sine_table_valid || !left_sine_table) return;
    BuildSineTable(*left_sine_table, left_amplitude);
    present_left_amplitude = left_amplitude;
    left_sine_table_valid = true;
}

void GeneratorState::EnsureRightTable() {
    if (right_sine_table_valid || !right_sine_table) return;
    BuildSineTable(*right_sine_table, out_level == out_levels::phase_reverse ? -right_amplitude : right_amplitude);
    present_right_amplitude = right_amplitude;
    right_sine_table_valid = true;
}

void GeneratorState::RenderTone(PSineTable table, PBuffer buffer, int count, int start, int& phase, extended f) {
    if (table == right_sine_table) ++start;
    // Never past the buffer's end, whatever the caller asks for.
    if (start < 0 || start >= kBufferSamples) return;
    count = std::min(count, (kBufferSamples - start + 1) / 2);
    if (count <= 0) return;

    // Unsigned arithmetic: the addition wraps in 32 bits and the mask keeps
    // the 30-bit phase, so the result matches the wrapping Integer addition.
    const std::uint32_t inc = static_cast<std::uint32_t>(PhaseIncrement(f));
    std::uint32_t ph = static_cast<std::uint32_t>(phase) & kPhaseMask;
    const audio_sample* const lookup = table->data();
    audio_sample* out = buffer->data() + start;
    for (int i = 0; i < count; ++i) {
        out[2 * i] = lookup[ph >> 15];
        ph = (ph + inc) & kPhaseMask;
    }
    phase = static_cast<int>(ph);
}

}  // namespace quorvex
