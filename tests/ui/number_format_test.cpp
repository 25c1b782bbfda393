// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/number_format.h"

#include <gtest/gtest.h>

namespace quorvex::ui {
namespace {

struct Case {
    double value;
    const char* text;
};

TEST(FormatGeneral4, FourSignificantDigitsPlainOrScientific) {
    const Case cases[] = {
        {0.05, "0.05"},       {1.25, "1.25"},       {1234, "1234"},     {12345, "1.235E4"},
        {0.00005, "5E-5"},    {0, "0"},             {-1.25, "-1.25"},   {3, "3"},
        {1234.5, "1235"},     // an exact half rounds away from zero
        {1234.4999, "1234"},  {9999.5, "1E4"},      {99995, "1E5"},     {10000, "1E4"},
        {0.001, "0.001"},     {0.0001, "0.0001"},   {0.00001234, "1.234E-5"},
        {0.00025, "0.00025"}, {123456789, "1.235E8"}, {-0.00005, "-5E-5"}, {100, "100"},
        {0.30000000000000004, "0.3"}, {1e300, "1E300"}, {5e-324, "4.941E-324"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatGeneral4(c.value, "."), c.text) << c.value;
    }
}

TEST(FormatGeneral4, UsesTheGivenDecimalSeparator) {
    EXPECT_EQ(FormatGeneral4(1.25, ","), "1,25");
    EXPECT_EQ(FormatGeneral4(12345, ","), "1,235E4");
    EXPECT_EQ(FormatGeneral4(1234, ","), "1234");
}

}  // namespace
}  // namespace quorvex::ui
