// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/number_format.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/scoped_c_locale.h"

namespace quorvex::ui {
namespace {

struct Case {
    double value;
    const char* text;  // with "." for the separator
};
const Case kCases[] = {
    {0.05, "0.05"},       {1.25, "1.25"},       {1234, "1234"},     {12345, "1.235E4"},
    {0.00005, "5E-5"},    {0, "0"},             {-1.25, "-1.25"},   {3, "3"},
    {1234.5, "1235"},     // an exact half rounds away from zero
    {1234.4999, "1234"},  {9999.5, "1E4"},      {99995, "1E5"},     {10000, "1E4"},
    {0.001, "0.001"},     {0.0001, "0.0001"},   {0.00001234, "1.234E-5"},
    {0.00025, "0.00025"}, {123456789, "1.235E8"}, {-0.00005, "-5E-5"}, {100, "100"},
    {0.30000000000000004, "0.3"}, {1e300, "1E300"}, {5e-324, "4.941E-324"},
    {1.00049999999999994493, "1"},  // just under a half at the fifth digit
};

std::string WithSeparator(std::string text, const std::string& separator) {
    const auto dot = text.find('.');
    if (dot != std::string::npos) text.replace(dot, 1, separator);
    return text;
}

TEST(FormatGeneral4, FourSignificantDigitsPlainOrScientific) {
    for (const Case& c : kCases) {
        EXPECT_EQ(FormatGeneral4(c.value, "."), c.text) << c.value;
    }
}

TEST(FormatGeneral4, UsesTheGivenDecimalSeparator) {
    EXPECT_EQ(FormatGeneral4(1.25, ","), "1,25");
    EXPECT_EQ(FormatGeneral4(12345, ","), "1,235E4");
    EXPECT_EQ(FormatGeneral4(1234, ","), "1234");
}

// The C library's own locale has no say: under Pashto rules its decimal
// separator is the two-byte Arabic decimal separator, and digits read at
// fixed places in its output came out garbled. The separator given (here
// the same one, as "Cum:" shows it in that locale) goes in whole.
TEST(FormatGeneral4, SameTextsWhenTheCLibrarysSeparatorTakesSeveralBytes) {
    const testing_support::ScopedCLocale pashto(LC_NUMERIC_MASK, "ps_AF.UTF-8");
    if (!pashto.ok()) GTEST_SKIP() << pashto.error();
    const std::string separator = "\xD9\xAB";  // U+066B in UTF-8
    for (const Case& c : kCases) {
        EXPECT_EQ(FormatGeneral4(c.value, separator), WithSeparator(c.text, separator)) << c.value;
    }
}

}  // namespace
}  // namespace quorvex::ui
