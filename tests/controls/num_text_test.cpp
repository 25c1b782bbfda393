// SPDX-License-Identifier: GPL-3.0-or-later
// The text side of the numeric edit, without a widget.

#include "controls/num_text.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "tests/support/scoped_c_locale.h"

namespace quorvex {
namespace {

const NumSeparators kEnglish{u'.', u','};
const NumSeparators kGerman{u',', u'.'};

TEST(FormatBinary, DigitCountsAndNegativeNumbers) {
    struct Case {
        std::int32_t n;
        int digits;
        const char* text;
    };
    const Case cases[] = {
        {0, 0, "0"},
        {5, 0, "101"},
        {5, -3, "101"},  // below 0 counts as 0
        {5, 4, "00101"},
        {8, 2, "000"},  // higher bits are dropped
        {-1, 0, "11111111111111111111111111111111"},
        {INT32_MIN, 0, "10000000000000000000000000000000"},
        {255, 31, "00000000000000000000000011111111"},
        {255, 40, "00000000000000000000000011111111"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatBinary(c.n, c.digits), QString::fromLatin1(c.text)) << c.n << " / " << c.digits;
    }
}

TEST(ParseBinary, ReadsTheLast32DigitsWithWrapAround) {
    struct Case {
        QString text;
        std::int32_t value;
    };
    const Case cases[] = {
        {"", 0},
        {"101", 5},
        {"00101", 5},
        {QString(32, u'1'), -1},
        {QString(33, u'1'), -1},
        {"1" + QString(32, u'0'), 0},
        {"1" + QString(31, u'0'), INT32_MIN},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseBinary(c.text), c.value) << c.text.toStdString();
}

TEST(DerivedForms, IntegerFormRoundsTiesToEvenAndClamps) {
    struct Case {
        long double v;
        std::int32_t i;
    };
    const Case cases[] = {
        {2.5L, 2},          {3.5L, 4},          {-2.5L, -2},          {-3.5L, -4},
        {0.49L, 0},         {2147483646.5L, 2147483646},              {2147483647.0L, 2147483647},
        {3e9L, 2147483647}, {-2147483648.0L, -2147483647},            {-3e9L, -2147483647},
    };
    for (const Case& c : cases) EXPECT_EQ(ValueAsInt(c.v), c.i) << static_cast<double>(c.v);
}

TEST(DerivedForms, SingleFormSaturatesAboveAndGoesInfiniteBelow) {
    EXPECT_EQ(std::bit_cast<std::uint32_t>(ValueAsSingle(1e39L)), 0x7F7FC99Eu);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(ValueAsSingle(3.4e38L)), 0x7F7FC99Eu);
    EXPECT_EQ(ValueAsSingle(-1e39L), -std::numeric_limits<float>::infinity());
    EXPECT_EQ(ValueAsSingle(0.1L), 0.1f);
    EXPECT_EQ(ValueAsSingle(-3.4e38L), -3.4e38f);
}

TEST(DerivedForms, HexAndBinaryTextsFollowTheIntegerForm) {
    struct Case {
        long double v;
        TEditBase base;
        int digitsHex, digitsBool;
        const char* hex;
        const char* bin;
    };
    const Case cases[] = {
        {255, ebFloat, 4, 0, "00FF", "11111111"},
        {-1, ebFloat, 0, 0, "FFFFFFFF", "11111111111111111111111111111111"},
        {5, ebBin, 0, 4, "5", "00101"},
        {2.5, ebHex, 0, 0, "2", "10"},
        // The integer notations stop at -2147483647.
        {-5e9, ebInt, 0, 0, "80000001", "10000000000000000000000000000001"},
    };
    for (const Case& c : cases) {
        ValueForms f;
        DeriveForms(c.v, c.base, c.digitsHex, c.digitsBool, f);
        EXPECT_EQ(f.asHex, QString::fromLatin1(c.hex)) << static_cast<double>(c.v);
        EXPECT_EQ(f.asBool, QString::fromLatin1(c.bin)) << static_cast<double>(c.v);
    }
    ValueForms f;
    DeriveForms(1e308L * 10, ebFloat, 0, 0, f);
    EXPECT_EQ(f.value, 1.7e308) << "the float notation's upper bound";
}

struct PatternCase {
    double v;
    const char* pattern;
    const char* text;  // with "." for the separator
};
const PatternCase kPatternCases[] = {
    {0.0, "#0.00#", "0.00"},
    {0.009999999776482582, "#0.00#", "0.01"},
    {0.029999999329447746, "#0.00#", "0.03"},
    {1.2, "#0.00#", "1.20"},
    {5, "#0.00#", "5.00"},
    {123.4565, "#0.00#", "123.457"},
    {0.125, "#0.00", "0.13"},   // an exact binary half: away from zero
    {0.015, "#0.00", "0.02"},   // 0.01499999… in binary, 0.015 in decimal
    {2.5, "#0", "3"},
    {-2.5, "#0", "-3"},
    {2500, "#0.#", "2500"},
    {0.0010000000474974513, "#0.#", "0"},
    {-0.001, "#0.#", "0"},      // no negative zero
    {-0.05, "#0.#", "-0.1"},
    {0.5, "#.#", ".5"},
    {9.96, "#0.#", "10"},       // the carry reaches the integer part
    {999999999999999.9, "#0", "1000000000000000"},
    {1.7e308, "#0.#", "1.7E+308"},
    {1e18, "#0.#", "1E+18"},
};

TEST(FormatPattern, RoundsTheDecimalValueHalfAwayFromZero) {
    for (const PatternCase& c : kPatternCases) {
        EXPECT_EQ(FormatPattern(c.v, QString::fromLatin1(c.pattern), u'.'), QString::fromLatin1(c.text))
            << c.v << " " << c.pattern;
    }
    EXPECT_EQ(FormatPattern(1.25, "#0.00#", u','), "1,25");
}

// The C library's own locale has no say: under Pashto rules its decimal
// separator is the two-byte Arabic decimal separator, and digits read at
// fixed places in its output came out garbled ("5,?0" for 5). The field's
// separator (here the same one) is what the text shows.
TEST(FormatPattern, SameTextsWhenTheCLibrarysSeparatorTakesSeveralBytes) {
    const testing_support::ScopedCLocale pashto(LC_NUMERIC_MASK, "ps_AF.UTF-8");
    if (!pashto.ok()) GTEST_SKIP() << pashto.error();
    const QChar separator = u'\u066B';
    for (const PatternCase& c : kPatternCases) {
        EXPECT_EQ(FormatPattern(c.v, QString::fromLatin1(c.pattern), separator),
                  QString::fromLatin1(c.text).replace(u'.', separator))
            << c.v << " " << c.pattern;
    }
}

// Typed texts, checked and converted as on Enter.
TEST(CheckText, ScansAndConvertsEachNotation) {
    enum Expect { value, invalid, refused };
    struct Case {
        TEditBase base;
        const char* text;
        Expect expect;
        long double number;  // value
        int firstBad, lastBad;  // invalid
    };
    const long double m = 0.001f;
    const long double e18 = 1e18f;
    const Case cases[] = {
        {ebFloat, "2.5k", value, 2500, 0, 0},
        {ebFloat, "1m", value, m, 0, 0},
        {ebFloat, "k", value, 1000, 0, 0},
        {ebFloat, "e3", value, 1000, 0, 0},
        {ebFloat, "1E", value, e18, 0, 0},  // a trailing E scales, it is no exponent
        {ebFloat, "1e-5", value, 1e-5L, 0, 0},
        {ebFloat, "!1e-5", value, 1e-5L, 0, 0},
        {ebFloat, "-", value, 0, 0, 0},
        {ebFloat, "!", value, 0, 0, 0},
        {ebFloat, "+7", value, 7, 0, 0},
        {ebFloat, "1,000", value, 1000, 0, 0},
        {ebFloat, "1.2.3", invalid, 0, 4, 4},
        {ebFloat, "1.2.3.4", invalid, 0, 4, 6},
        {ebFloat, "12x", invalid, 0, 3, 3},
        {ebFloat, "1e+-5", invalid, 0, 4, 4},
        {ebFloat, "--1", invalid, 0, 2, 2},
        {ebFloat, "1e2.5", refused, 0, 0, 0},
        {ebFloat, "1e", refused, 0, 0, 0},
        {ebFloat, ".", refused, 0, 0, 0},
        {ebFloat, "$FF", value, 255, 0, 0},
        {ebFloat, "$ffffffff", value, -1, 0, 0},
        {ebFloat, "$000000001", value, 1, 0, 0},
        {ebFloat, "$100000000", refused, 0, 0, 0},
        {ebFloat, "$-1", invalid, 0, 2, 2},
        {ebFloat, "&101", value, 5, 0, 0},
        {ebFloat, "&2", invalid, 0, 2, 2},
        {ebFloat, "%12", value, 12, 0, 0},
        {ebInt, "3k", value, 3000, 0, 0},
        {ebInt, "5m", invalid, 0, 2, 2},
        {ebInt, "1E", value, e18, 0, 0},
        {ebInt, "3000000k", value, 3e9L, 0, 0},
        {ebInt, "2147483647", value, 2147483647, 0, 0},
        {ebInt, "-2147483648", value, -2147483648.0L, 0, 0},
        {ebInt, "2147483648", refused, 0, 0, 0},
        {ebInt, "99999999999999999999", refused, 0, 0, 0},
        {ebInt, "1.5", invalid, 0, 2, 2},
        {ebBin, "2", invalid, 0, 1, 1},
        {ebBin, "101", value, 5, 0, 0},
        {ebBin, "1k", invalid, 0, 2, 2},
        {ebHex, "ff", value, 255, 0, 0},
        {ebHex, "fg", invalid, 0, 2, 2},
    };
    for (const Case& c : cases) {
        const TextCheck r = CheckText(QString::fromLatin1(c.text), c.base, kEnglish);
        SCOPED_TRACE(c.text);
        switch (c.expect) {
        case value:
            ASSERT_EQ(r.kind, TextCheck::kValid);
            EXPECT_EQ(r.number, c.number);
            break;
        case invalid:
            ASSERT_EQ(r.kind, TextCheck::kInvalid);
            EXPECT_EQ(r.firstBad, c.firstBad);
            EXPECT_EQ(r.lastBad, c.lastBad);
            break;
        case refused:
            ASSERT_EQ(r.kind, TextCheck::kConversionError);
            EXPECT_FALSE(r.error.isEmpty());
            break;
        }
    }
}

TEST(CheckText, LocaleSeparatorsDecideWhatIsValid) {
    TextCheck r = CheckText("1.234,5", ebFloat, kGerman);
    ASSERT_EQ(r.kind, TextCheck::kValid);
    EXPECT_EQ(r.number, 1234.5L);
    r = CheckText("1,2,3", ebFloat, kGerman);
    ASSERT_EQ(r.kind, TextCheck::kInvalid);
    EXPECT_EQ(r.firstBad, 4);
    // A decimal separator is no part of the integer notation.
    r = CheckText("1,5", ebInt, kGerman);
    EXPECT_EQ(r.kind, TextCheck::kInvalid);
}

TEST(CheckText, BeyondTheDoubleRangeIsLeftToTheCaller) {
    const TextCheck r = CheckText("1e400", ebFloat, kEnglish);
    ASSERT_EQ(r.kind, TextCheck::kValid);
    double d = 0;
    EXPECT_FALSE(FitsDouble(r.number, d));
    EXPECT_FALSE(FitsDouble(CheckText("1e99999", ebFloat, kEnglish).number, d));
    EXPECT_TRUE(FitsDouble(CheckText("1e-99999", ebFloat, kEnglish).number, d));
    EXPECT_EQ(d, 0.0);
}

TEST(CheckLimits, OnlyTheOptionsSetReportAFlag) {
    LimitCheck r = CheckLimits(12, eoLimitMax, 0, 10);
    EXPECT_EQ(r.value, 10);
    EXPECT_TRUE(r.hasUp && r.up);
    EXPECT_FALSE(r.hasLo);
    r = CheckLimits(-1, eoLimitMin | eoLimitMax, 0, 10);
    EXPECT_EQ(r.value, 0);
    EXPECT_TRUE(r.hasLo && r.lo);
    EXPECT_TRUE(r.hasUp && !r.up);
    r = CheckLimits(50, {}, 0, 10);
    EXPECT_EQ(r.value, 50);
    EXPECT_FALSE(r.hasLo || r.hasUp);
}

}  // namespace
}  // namespace quorvex
