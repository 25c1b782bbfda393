// SPDX-License-Identifier: GPL-3.0-or-later
// Sine tables, their builds on demand, and the oscillator.

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "engine/generator.h"
#include "tests/engine/fake_host.h"

namespace quorvex {
namespace {

using testing_support::FillRamp;
using testing_support::RecordingHost;

TEST(BuildSineTable, FullScaleLandmarksAndSymmetry) {
    auto table = std::make_unique<TSineTable>();
    BuildSineTable(*table, 1.0L);
    EXPECT_EQ((*table)[0], 0);
    EXPECT_EQ((*table)[8192], 32767);
    EXPECT_EQ((*table)[16384], 0);
    EXPECT_EQ((*table)[24576], -32767);
    EXPECT_EQ((*table)[1], 6);       // sin(2pi/32768) * 32767 = 6.283
    EXPECT_EQ((*table)[4096], 23170);  // 32767 / sqrt(2) = 23169.77
    for (int i = 1; i < 8192; ++i) {
        ASSERT_EQ((*table)[16384 - i], (*table)[i]) << i;
        ASSERT_EQ((*table)[16384 + i], -(*table)[i]) << i;
        ASSERT_EQ((*table)[32768 - i], -(*table)[i]) << i;
    }
    const auto [lo, hi] = std::minmax_element(table->begin(), table->end());
    EXPECT_EQ(*lo, -32767);
    EXPECT_EQ(*hi, 32767);
}

TEST(BuildSineTable, ZeroIsSilentAndNegativeIsExactNegation) {
    auto table = std::make_unique<TSineTable>();
    auto negated = std::make_unique<TSineTable>();
    BuildSineTable(*table, 0.0L);
    EXPECT_TRUE(std::all_of(table->begin(), table->end(), [](audio_sample s) { return s == 0; }));
    for (int level : {0, 1, 12, 26}) {
        const long double a = LevelToAmplitude(level, 20);
        BuildSineTable(*table, a);
        BuildSineTable(*negated, -a);
        for (int i = 0; i < kSineTableLength; ++i) ASSERT_EQ((*negated)[i], -(*table)[i]) << "level " << level << " entry " << i;
    }
}

TEST(BuildSineTable, TiesRoundToEven) {
    // a * 32767 = 0.5 and 1.5 at the peak: ties to even give 0 and 2.
    auto table = std::make_unique<TSineTable>();
    BuildSineTable(*table, 0.5L / 32767.0L);
    EXPECT_EQ((*table)[8192], 0);
    BuildSineTable(*table, 1.5L / 32767.0L);
    EXPECT_EQ((*table)[8192], 2);
    EXPECT_EQ((*table)[24576], -2);
}

class OscillatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(state.HasMemory());
        FillRamp(*state.left_sine_table);
        FillRamp(*state.right_sine_table);
        state.p_buffer1->fill(kUntouched);
    }
    // Table indices written to the left channel's first frames.
    std::vector<int> LeftIndices(int frames) const {
        std::vector<int> out;
        for (int i = 0; i < frames; ++i) out.push_back((*state.p_buffer1)[2 * i]);
        return out;
    }

    static constexpr audio_sample kUntouched = -1;
    RecordingHost host;
    GeneratorState state{host};
};

TEST_F(OscillatorTest, FirstIndicesOfWorkedFrequencies) {
    struct Case { long double f; std::vector<int> indices; };
    const Case cases[] = {
        {1000, {0, 743, 1486, 2229}},
        {440, {0, 326, 653, 980}},
        {0, {0, 0, 0, 0}},
        {22050, {0, 16384, 0, 16384}},
        {44100, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        int phase = 0;
        state.RenderTone(state.left_sine_table, state.p_buffer1, 4, 0, phase, c.f);
        EXPECT_EQ(LeftIndices(4), c.indices) << static_cast<double>(c.f) << " Hz";
    }
}

TEST_F(OscillatorTest, PhaseAfterOneChunkAtOneKilohertz) {
    int phase = 0;
    state.RenderTone(state.left_sine_table, state.p_buffer1, 11025, 0, phase, 1000);
    EXPECT_EQ(phase, 1073739999);
}

TEST_F(OscillatorTest, PhaseWrapsWithinThirtyBits) {
    // Starting just below 2^30 with the largest positive increment.
    int phase = (1 << 30) - 1;
    state.RenderTone(state.left_sine_table, state.p_buffer1, 3, 0, phase, 88199.99L);
    EXPECT_GE(phase, 0);
    EXPECT_LT(phase, 1 << 30);
    const auto inc = static_cast<std::uint32_t>(PhaseIncrement(88199.99L));
    EXPECT_EQ(static_cast<std::uint32_t>(phase), ((1u << 30) - 1 + 3 * inc) & kPhaseMask);
}

TEST_F(OscillatorTest, ChannelsGoToTheirOwnSlots) {
    int left = 0;
    int right = 0;
    state.RenderTone(state.left_sine_table, state.p_buffer1, 3, 4, left, 1000);
    const auto& b = *state.p_buffer1;
    EXPECT_EQ(b[3], kUntouched);
    EXPECT_EQ(b[4], 0);
    EXPECT_EQ(b[5], kUntouched);
    EXPECT_EQ(b[6], 743);
    EXPECT_EQ(b[8], 1486);
    EXPECT_EQ(b[10], kUntouched);
    state.RenderTone(state.right_sine_table, state.p_buffer1, 3, 4, right, 440);
    EXPECT_EQ(b[5], 0);
    EXPECT_EQ(b[7], 326);
    EXPECT_EQ(b[9], 653);
    EXPECT_EQ(b[6], 743);  // the left samples stay
    EXPECT_EQ(b[11], kUntouched);
}

TEST_F(OscillatorTest, ZeroFramesWriteNothing) {
    int phase = 12345;
    state.RenderTone(state.left_sine_table, state.p_buffer1, 0, 0, phase, 1000);
    EXPECT_EQ(phase, 12345);
    EXPECT_EQ((*state.p_buffer1)[0], kUntouched);
}

TEST_F(OscillatorTest, NeverWritesPastTheBuffer) {
    int phase = 0;
    state.RenderTone(state.left_sine_table, state.p_buffer1, kBufferFrames + 100, kBufferSamples - 4, phase, 1000);
    EXPECT_EQ((*state.p_buffer1)[kBufferSamples - 4], 0);
    EXPECT_EQ((*state.p_buffer1)[kBufferSamples - 2], 743);
    EXPECT_EQ(phase, 2 * 24347887);
    int right = 0;
    state.RenderTone(state.right_sine_table, state.p_buffer1, 5, kBufferSamples - 2, right, 1000);
    EXPECT_EQ((*state.p_buffer1)[kBufferSamples - 1], 0);
    EXPECT_EQ(right, 24347887);
}

TEST_F(OscillatorTest, NegativeFrequencyIsTheInvertedTone) {
    BuildSineTable(*state.left_sine_table, 1.0L);
    int phase = 0;
    state.RenderTone(state.left_sine_table, state.p_buffer1, 500, 0, phase, 1000);
    const std::vector<int> up = LeftIndices(500);
    phase = 0;
    state.RenderTone(state.left_sine_table, state.p_buffer1, 500, 0, phase, -1000);
    const std::vector<int> down = LeftIndices(500);
    // Same pitch, opposite sign, within one table step (at most 7 units).
    for (int i = 0; i < 500; ++i) ASSERT_LE(std::abs(up[i] + down[i]), 7) << i;
}

TEST_F(OscillatorTest, TablesAreBuiltOnlyWhenInvalid) {
    RecordingHost h;
    GeneratorState s{h};
    s.left_amplitude = LevelToAmplitude(12, 20);
    s.right_amplitude = LevelToAmplitude(12, 20);
    s.out_level = out_levels::phase_reverse;
    s.EnsureLeftTable();
    s.EnsureRightTable();
    EXPECT_TRUE(s.left_sine_table_valid);
    EXPECT_TRUE(s.right_sine_table_valid);
    EXPECT_EQ(s.present_left_amplitude, s.left_amplitude);
    EXPECT_EQ(s.present_right_amplitude, s.right_amplitude);  // before the negation
    for (int i = 0; i < kSineTableLength; ++i) ASSERT_EQ((*s.right_sine_table)[i], -(*s.left_sine_table)[i]) << i;
    EXPECT_EQ((*s.left_sine_table)[8192], 8231);  // 0.251189 * 32767

    // A valid table is left alone even when the wanted amplitude moved on.
    s.left_amplitude = 1.0L;
    s.EnsureLeftTable();
    EXPECT_EQ((*s.left_sine_table)[8192], 8231);
    s.left_sine_table_valid = false;
    s.EnsureLeftTable();
    EXPECT_EQ((*s.left_sine_table)[8192], 32767);
    EXPECT_EQ(s.present_left_amplitude, 1.0L);
}

}  // namespace
}  // namespace quorvex
