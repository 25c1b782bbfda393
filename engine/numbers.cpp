// SPDX-License-Identifier: GPL-3.0-or-later
// Pure arithmetic shared by the engine, playback and the window.

#include <cmath>
#include <cstdio>
#include <limits>

#include "engine/generator.h"

namespace quorvex {

namespace {

// Two's-complement truncation to 32 bits, the way a wrapping Integer
// multiplication or subtraction ends up.
std::int32_t Wrap32(std::int64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v)); }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

extended LevelToAmplitude(int position, int low_power_position) {
    if (position == 0) return 1.0L;
    return powl(10.0L, static_cast<extended>(-position) / static_cast<extended>(low_power_position));
}

std::int32_t PhaseIncrement(extended f) {
    if (!std::isfinite(f)) return 0;
    const extended rounded = nearbyintl(f * 1073741824.0L / 44100.0L);
    // Past 2^95 every extended value is a multiple of 2^32, and an overflow to
    // infinity lies further still: both reduce to 0.
    if (!std::isfinite(rounded)) return 0;
    constexpr extended kTwo32 = 4294967296.0L;
    extended reduced = fmodl(rounded, kTwo32);  // exact, sign of `rounded`
    if (reduced < 0) reduced += kTwo32;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(reduced)));
}

int HalfOctaveIndex(extended f) {
    const extended band = truncl(log10l(f) / 0.150514997832L);
    // Outside the contract (f <= 0, NaN, infinity) the result is pinned
    // rather than left to an undefined conversion.
    if (std::isnan(band) || band < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
    if (band > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
    return static_cast<int>(band);
}

std::optional<std::int32_t> ParseInteger(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size()) return std::nullopt;
    // The magnitude may reach 2^31 for the most negative value.
    const std::int64_t limit = negative ? std::int64_t{1} << 31 : (std::int64_t{1} << 31) - 1;
    std::int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const int digit = HexDigit(text[i]);
        if (digit < 0 || digit >= base) return std::nullopt;
        magnitude = magnitude * base + digit;
        if (magnitude > limit) return std::nullopt;
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

std::string FormatHz(extended f) {
    // roundl rounds halves away from zero; adding +0 turns -0 into 0.
    const extended whole = roundl(f) + 0.0L;
    char text[5000];  // the largest extended value has 4933 digits
    std::snprintf(text, sizeof text, "%.0Lf Hz", whole);
    return text;
}

extended BarFrequency(std::int32_t f_min, std::int32_t f_max, modes mode, int max, int min, int p) {
    // A bar without travel has a single position: the lower limit.
    if (max == min) return f_min;
    const std::int32_t travel = Wrap32(std::int64_t{max} - p);
    const std::int32_t span = Wrap32(std::int64_t{max} - min);
    if (mode == modes::logarithmic && LimitsUsable(f_min, f_max)) {
        const extended ratio = static_cast<extended>(f_max) / static_cast<extended>(f_min);
        const extended exponent = logl(ratio) * static_cast<extended>(travel) / static_cast<extended>(span);
        return static_cast<extended>(f_min) * expl(exponent);
    }
    // Linear, and the fall-back for limits a logarithm cannot take: the
    // product wraps in 32 bits as Integer arithmetic does.
    const std::int32_t product = Wrap32(std::int64_t{Wrap32(std::int64_t{f_max} - f_min)} * travel);
    return static_cast<extended>(f_min) + static_cast<extended>(product) / static_cast<extended>(span);
}

}  // namespace quorvex
