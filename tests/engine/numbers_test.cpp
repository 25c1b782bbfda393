// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's pure arithmetic: levels, increments, bands, the limit parse,
// the Hz text and the manual bars' mapping.

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "engine/generator.h"

namespace quorvex {
namespace {

TEST(LevelToAmplitude, WorkedTable) {
    struct Case { int p, d; long double expected; };
    const Case cases[] = {
        {1, 20, 0.891251L}, {12, 20, 0.251189L}, {26, 20, 0.0501187L},
        {12, 30, 0.398107L}, {12, 10, 0.0630957L},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "p=" << c.p << " D=" << c.d);
        EXPECT_NEAR(static_cast<double>(LevelToAmplitude(c.p, c.d)), static_cast<double>(c.expected), 1e-6);
    }
    // Exact values: position 0 whatever D, and one decade at p = D.
    for (int d : {1, 20, 30}) EXPECT_EQ(LevelToAmplitude(0, d), 1.0L);
    EXPECT_EQ(LevelToAmplitude(20, 20), powl(10.0L, -1.0L));
}

TEST(PhaseIncrement, WorkedExamplesAndLimits) {
    struct Case { long double f; std::int32_t inc; };
    const Case cases[] = {
        {1000.0L, 24347887}, {440.0L, 10713070}, {20.0L, 486958},
        {0.0L, 0}, {22050.0L, 1 << 29}, {44100.0L, 1 << 30},
        {-1000.0L, -24347887},
        // 2^31 wraps to the most negative Integer, 2^32 to 0.
        {88200.0L, std::numeric_limits<std::int32_t>::min()}, {176400.0L, 0},
        {176400.0L + 1000.0L, 24347887}, {-176400.0L - 1000.0L, -24347887},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "f=" << static_cast<double>(c.f));
        EXPECT_EQ(PhaseIncrement(c.f), c.inc);
    }
}

TEST(PhaseIncrement, DefinedForHugeAndNonFinite) {
    EXPECT_EQ(PhaseIncrement(std::numeric_limits<long double>::infinity()), 0);
    EXPECT_EQ(PhaseIncrement(-std::numeric_limits<long double>::infinity()), 0);
    EXPECT_EQ(PhaseIncrement(std::numeric_limits<long double>::quiet_NaN()), 0);
    EXPECT_EQ(PhaseIncrement(std::numeric_limits<long double>::max()), 0);
    EXPECT_EQ(PhaseIncrement(-std::numeric_limits<long double>::max()), 0);
    // 2^62 * 44100 / 2^30 Hz gives exactly 2^62 phase units: a multiple of 2^32.
    EXPECT_EQ(PhaseIncrement(ldexpl(44100.0L, 32)), 0);
    // Ties go to even: 44100 / 2^30 * 2.5 Hz is exactly 2.5 units.
    EXPECT_EQ(PhaseIncrement(ldexpl(44100.0L * 2.5L, -30)), 2);
    EXPECT_EQ(PhaseIncrement(ldexpl(44100.0L * 3.5L, -30)), 4);
    EXPECT_EQ(PhaseIncrement(ldexpl(-44100.0L * 2.5L, -30)), -2);
}

TEST(HalfOctaveIndex, BandList) {
    struct Case { long double f; int band; };
    const Case cases[] = {
        {20, 8}, {50, 11}, {300, 16}, {1000, 19}, {1024, 19}, {1449, 21},
        {2048, 21}, {15000, 27}, {20000, 28}, {1, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(HalfOctaveIndex(c.f), c.band) << static_cast<double>(c.f);
}

TEST(HalfOctaveIndex, OutsideContractIsPinned) {
    EXPECT_EQ(HalfOctaveIndex(0.0L), std::numeric_limits<int>::min());
    EXPECT_EQ(HalfOctaveIndex(-5.0L), std::numeric_limits<int>::min());
    EXPECT_EQ(HalfOctaveIndex(std::numeric_limits<long double>::infinity()), std::numeric_limits<int>::max());
    // Below 1 Hz the band truncates toward zero, then goes negative.
    EXPECT_EQ(HalfOctaveIndex(0.9L), 0);
    EXPECT_EQ(HalfOctaveIndex(0.5L), -1);
}

TEST(ParseInteger, LimitEditTexts) {
    struct Case { const char* text; std::optional<std::int32_t> value; };
    const Case cases[] = {
        {"20", 20}, {"  440", 440}, {"+7", 7}, {"-12", -12}, {"$1B8", 440}, {"$1b8", 440},
        {"x1B8", 440}, {"X1b8", 440}, {"0x1B8", 440}, {"0X1B8", 440}, {"-$10", -16},
        {"0", 0}, {"007", 7},
        {"2147483647", 2147483647}, {"-2147483648", std::numeric_limits<std::int32_t>::min()},
        {"$7FFFFFFF", 2147483647}, {"-$80000000", std::numeric_limits<std::int32_t>::min()},
        {"", std::nullopt}, {"   ", std::nullopt}, {"abc", std::nullopt}, {"20 ", std::nullopt},
        {"-", std::nullopt}, {"+", std::nullopt}, {"$", std::nullopt}, {"0x", std::nullopt},
        {"1B8", std::nullopt}, {"2147483648", std::nullopt}, {"-2147483649", std::nullopt},
        {"$80000000", std::nullopt}, {"99999999999999999999", std::nullopt}, {"--1", std::nullopt},
        {"\t20", std::nullopt}, {"1.5", std::nullopt}, {"$-1", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseInteger(c.text), c.value) << '"' << c.text << '"';
}

TEST(FormatHz, RoundsHalvesAwayFromZero) {
    struct Case { long double f; const char* text; };
    const Case cases[] = {
        {23.0L, "23 Hz"}, {22.5L, "23 Hz"}, {23.5L, "24 Hz"}, {131.62L, "132 Hz"},
        {-2.5L, "-3 Hz"}, {-0.3L, "0 Hz"}, {0.0L, "0 Hz"}, {20000.01L, "20000 Hz"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatHz(c.f), c.text);
}

TEST(BarFrequency, WorkedPositions) {
    struct Case { modes mode; int p; long double expected; long double tolerance; };
    const Case cases[] = {
        {modes::logarithmic, 180, 20.0L, 0}, {modes::linear, 180, 20.0L, 0},
        {modes::logarithmic, 179, 20.79L, 0.005L}, {modes::linear, 179, 131.62L, 0.005L},
        {modes::logarithmic, 90, 644.78L, 0.005L},
        {modes::linear, 1, 20000.0L, 0}, {modes::logarithmic, 1, 20000.0L, 1e-12L},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "p=" << c.p << " linear=" << (c.mode == modes::linear));
        EXPECT_NEAR(static_cast<double>(BarFrequency(20, 20000, c.mode, 180, 1, c.p)),
                    static_cast<double>(c.expected), static_cast<double>(c.tolerance));
    }
    // The exact order of operations of the logarithmic mapping, computed at
    // run time by the same library functions (volatile keeps the compiler from
    // folding it with its own, differently rounded, arithmetic).
    volatile long double low = 20.0L;
    volatile long double high = 20000.0L;
    const long double by_hand = low * expl(logl(high / low) * 90.0L / 179.0L);
    EXPECT_EQ(BarFrequency(20, 20000, modes::logarithmic, 180, 1, 90), by_hand);
}

TEST(BarFrequency, IntegerProductWrapsLikeInteger) {
    // (2^31 - 1 - 1) * 179 overflows 32 bits; the product wraps, the rest is extended.
    const std::int32_t f_min = 1;
    const std::int32_t f_max = std::numeric_limits<std::int32_t>::max();
    const auto wrapped = static_cast<std::int32_t>(static_cast<std::uint32_t>(std::int64_t{f_max - f_min} * 179));
    EXPECT_EQ(BarFrequency(f_min, f_max, modes::linear, 180, 1, 1), 1.0L + static_cast<long double>(wrapped) / 179.0L);
    // The difference of the limits wraps too.
    const std::int32_t low = std::numeric_limits<std::int32_t>::min();
    EXPECT_EQ(BarFrequency(low, 1, modes::linear, 180, 1, 179),
              static_cast<long double>(low) + static_cast<long double>(std::numeric_limits<std::int32_t>::min() + 1) / 179.0L);
}

TEST(BarFrequency, UnusableLimitsStayFinite) {
    for (auto [lo, hi] : {std::pair{0, 20000}, std::pair{-20, 20000}, std::pair{20, 0}, std::pair{0, 0}}) {
        for (int p : {1, 90, 180}) {
            const long double f = BarFrequency(lo, hi, modes::logarithmic, 180, 1, p);
            EXPECT_TRUE(std::isfinite(f)) << lo << ".." << hi << " p=" << p;
            EXPECT_EQ(f, BarFrequency(lo, hi, modes::linear, 180, 1, p));
        }
    }
    EXPECT_EQ(BarFrequency(20, 20000, modes::linear, 5, 5, 5), 20.0L);
}

}  // namespace
}  // namespace quorvex
