// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The frequency limits of an output: the four ranges the window offers, with
// their captions and limits, and how the limits typed into the two edits are
// read at a start. The window's range group and quorvex-render both take them
// from here.

#include <array>
#include <cstdint>
#include <string_view>

#include "engine/generator.h"

namespace quorvex {

struct FrequencyRange {
    ranges range;
    std::string_view caption;  // the item of the range group, compared exactly
    std::int32_t f_min;        // Hz
    std::int32_t f_max;        // Hz
    std::string_view status;   // shown in lblFnow when the range is chosen
};

// In the order the group lists the items and its captions are compared.
inline constexpr std::array<FrequencyRange, 4> kRanges{{
    {ranges::wide, "Wide  (20Hz .. 20KHz)", 20, 20000, "wide"},
    {ranges::hf, "HF  (1KHz .. 15KHz)", 1000, 15000, "hf"},
    {ranges::mf, "Speech  (300Hz .. 3KHz)", 300, 3000, "mf"},
    {ranges::lf, "LF  (50Hz .. 1KHz)", 50, 1000, "lf"},
}};

// Every member of ranges has its row.
constexpr const FrequencyRange& RangeOf(ranges r) {
    for (const FrequencyRange& item : kRanges) {
        if (item.range == r) return item;
    }
    return kRanges.front();
}

// The row whose caption is exactly `caption`, or none.
constexpr const FrequencyRange* RangeByCaption(std::string_view caption) {
    for (const FrequencyRange& item : kRanges) {
        if (item.caption == caption) return &item;
    }
    return nullptr;
}

// Limits used where an edit's text is not a whole number (ParseInteger).
inline constexpr std::int32_t kLowerLimitFallback = 150;
inline constexpr std::int32_t kUpperLimitFallback = 300;

// A limit as Start reads it from its edit. No range check follows: limits
// the engine cannot use are refused by the caller (LimitsUsable).
inline std::int32_t LowerLimitFromText(std::string_view text) {
    return ParseInteger(text).value_or(kLowerLimitFallback);
}
inline std::int32_t UpperLimitFromText(std::string_view text) {
    return ParseInteger(text).value_or(kUpperLimitFallback);
}

}  // namespace quorvex
