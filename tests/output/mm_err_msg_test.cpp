// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/mm_err_msg.h"

#include <gtest/gtest.h>

namespace quorvex {
namespace {

TEST(ErrorText, TextsOfEachFamilyAndTheCodesBetween) {
    constexpr std::string_view kInvalid = "invalid parameter passed to error translation routine!";
    const struct {
        std::uint16_t code;
        std::string_view text;
    } cases[] = {
        {0, "no error"},
        {6, "no device driver present"},
        {7, " memory allocation error"},  // the leading blank is part of it
        {8, "function isn't supported"},
        {11, "invalid parameter passed"},
        {32, "unsupported wave format"},
        {33, "still something playing"},
        {65, "still something playing"},
        {34, "header not prepared"},
        {64, "header not prepared"},
        {97, "request not completed"},
        {166, "request not completed"},
        {129, "time struct size"},
        {167, "joystick is unplugged"},
        {257, "file not found"},
        {266, "file is unbuffered"},
        // Inside a family's range but not in the table.
        {12, kInvalid},
        {36, kInvalid},
        {70, kInvalid},
        {96, kInvalid},
        {160, kInvalid},
        {256, kInvalid},
        {267, kInvalid},
        {65535, kInvalid},
        // Callers pass the low 16 bits of a 32-bit result: 65568 = 0x10020.
        {static_cast<std::uint16_t>(65568u & 0xFFFF), "unsupported wave format"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ErrorText(c.code), c.text) << "code " << c.code;
    }
}

}  // namespace
}  // namespace quorvex
