// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/mm_err_msg.h"

#include <algorithm>
#include <array>
#include <utility>

namespace quorvex {

namespace {

using Entry = std::pair<std::uint16_t, std::string_view>;

// Sorted by code. Some texts are shared by two codes of different families.
constexpr std::array kTexts{
    Entry{0, "no error"},
    Entry{1, "unspecified error"},
    Entry{2, "device ID out of range"},
    Entry{3, "driver failed enable"},
    Entry{4, "device already allocated"},
    Entry{5, "device handle is invalid"},
    Entry{6, "no device driver present"},
    Entry{7, " memory allocation error"},
    Entry{8, "function isn't supported"},
    Entry{9, "error value out of range"},
    Entry{10, "invalid flag passed"},
    Entry{11, "invalid parameter passed"},
    Entry{32, "unsupported wave format"},
    Entry{33, "still something playing"},
    Entry{34, "header not prepared"},
    Entry{35, "device is synchronous"},
    Entry{64, "header not prepared"},
    Entry{65, "still something playing"},
    Entry{66, "no current map"},
    Entry{67, "hardware is still busy"},
    Entry{68, "port no longer connected"},
    Entry{69, "invalid setup"},
    Entry{97, "request not completed"},
    Entry{129, "time struct size"},
    Entry{165, "bad parameters"},
    Entry{166, "request not completed"},
    Entry{167, "joystick is unplugged"},
    Entry{257, "file not found"},
    Entry{258, "out of memory"},
    Entry{259, "cannot open"},
    Entry{260, "cannot close"},
    Entry{261, "cannot read"},
    Entry{262, "cannot write"},
    Entry{263, "cannot seek"},
    Entry{264, "cannot expand file"},
    Entry{265, "chunk not found"},
    Entry{266, "file is unbuffered"},
};

static_assert(std::ranges::is_sorted(kTexts, {}, &Entry::first));

}  // namespace

std::string_view ErrorText(std::uint16_t code) {
    const auto* it = std::ranges::lower_bound(kTexts, code, {}, &Entry::first);
    if (it == kTexts.end() || it->first != code) {
        return "invalid parameter passed to error translation routine!";
    }
    return it->second;
}

}  // namespace quorvex
