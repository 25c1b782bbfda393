// SPDX-License-Identifier: GPL-3.0-or-later
// One looping pass of a fast sweep.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "engine/generator.h"
#include "tests/engine/fake_host.h"

namespace quorvex {
namespace {

using testing_support::RecordingHost;

// The samples one channel of a pass should hold: `silent` blocks of zeros,
// then one block per frequency with the phase running on from block to block.
std::vector<audio_sample> ModelPass(const TSineTable& table, const std::vector<long double>& freqs, int silent, int block) {
    std::vector<audio_sample> out(static_cast<std::size_t>(silent) * block, 0);
    std::uint32_t phase = 0;
    for (long double f : freqs) {
        const auto inc = static_cast<std::uint32_t>(PhaseIncrement(f));
        for (int i = 0; i < block; ++i) {
            out.push_back(table[phase >> 15]);
            phase = (phase + inc) % (1u << 30);
        }
    }
    return out;
}

std::vector<audio_sample> Channel(const TBuffer& buffer, int frames, int channel) {
    std::vector<audio_sample> out;
    for (int i = 0; i < frames; ++i) out.push_back(buffer[2 * i + channel]);
    return out;
}

class FastSweepTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(state.HasMemory());
        state.left_amplitude = LevelToAmplitude(12, 20);
        state.right_amplitude = LevelToAmplitude(3, 20);
        state.EnsureLeftTable();
        state.EnsureRightTable();
        state.p_buffer1->fill(kUntouched);
    }
    // Frequencies of the tone blocks, by repeated addition or multiplication.
    std::vector<long double> BlockFrequencies(int steps) const {
        std::vector<long double> freqs{static_cast<long double>(state.f_min)};
        while (static_cast<int>(freqs.size()) < steps)
            freqs.push_back(state.log_lin == modes::linear ? state.f_step + freqs.back() : freqs.back() * state.f_ratio);
        return freqs;
    }

    static constexpr audio_sample kUntouched = 0x5555;
    RecordingHost host;
    GeneratorState state{host};
};

TEST_F(FastSweepTest, PassLayoutAndSamples) {
    struct Case { int steps; modes mode; int frames; int silent; int block; };
    const Case cases[] = {
        {20, modes::logarithmic, 57330, 6, 2205},
        {20, modes::linear, 57330, 6, 2205},
        {1000, modes::logarithmic, 57319, 333, 43},
        {1000, modes::linear, 57319, 333, 43},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.steps << " steps, linear=" << (c.mode == modes::linear));
        state.p_buffer1->fill(kUntouched);
        state.log_lin = c.mode;
        ASSERT_EQ(state.RenderFastSweep(state.p_buffer1, c.steps), c.frames);
        const std::vector<long double> freqs = BlockFrequencies(c.steps);
        EXPECT_EQ(Channel(*state.p_buffer1, c.frames, 0), ModelPass(*state.left_sine_table, freqs, c.silent, c.block));
        EXPECT_EQ(Channel(*state.p_buffer1, c.frames, 1), ModelPass(*state.right_sine_table, freqs, c.silent, c.block));
        // Frames past the pass are not written.
        EXPECT_TRUE(std::all_of(state.p_buffer1->begin() + 2 * c.frames, state.p_buffer1->end(),
                                [](audio_sample s) { return s == kUntouched; }));
        // fl and fr are left one step past the last block.
        const long double next = c.mode == modes::linear ? state.f_step + freqs.back() : freqs.back() * state.f_ratio;
        EXPECT_EQ(state.fl, next);
        EXPECT_EQ(state.fr, next);
    }
}

TEST_F(FastSweepTest, StepSizesOfTheFourRanges) {
    struct Case { int lo, hi, steps; long double ratio, step, ratio_tol, step_tol; };
    const Case cases[] = {
        {20, 20000, 20, 1.438450L, 1051.58L, 5e-7L, 5e-3L},
        {1000, 15000, 20, 1.153186L, 736.84L, 5e-7L, 5e-3L},
        {300, 3000, 20, 1.128838L, 142.11L, 5e-7L, 5e-3L},
        {50, 1000, 20, 1.170780L, 50.0005L, 5e-7L, 5e-5L},
        {20, 20000, 1000, 1.006939L, 20.00001L, 5e-7L, 5e-6L},
        {1000, 15000, 1000, 1.002714L, 14.014L, 5e-7L, 5e-4L},
        {300, 3000, 1000, 1.002308L, 2.7027L, 5e-7L, 5e-5L},
        {50, 1000, 1000, 1.003003L, 0.95096L, 5e-7L, 5e-6L},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.lo << "-" << c.hi << " Hz, " << c.steps << " steps");
        state.f_min = c.lo;
        state.f_max = c.hi;
        state.RenderFastSweep(state.p_buffer1, c.steps);
        EXPECT_NEAR(static_cast<double>(state.f_ratio), static_cast<double>(c.ratio), static_cast<double>(c.ratio_tol));
        EXPECT_NEAR(static_cast<double>(state.f_step), static_cast<double>(c.step), static_cast<double>(c.step_tol));
    }
}

TEST_F(FastSweepTest, LastBlockLandsOnTheUpperLimit) {
    state.RenderFastSweep(state.p_buffer1, 20);
    EXPECT_NEAR(static_cast<double>(BlockFrequencies(20).back()), 20000.0, 1e-9);
    state.log_lin = modes::linear;
    state.RenderFastSweep(state.p_buffer1, 20);
    const std::vector<long double> linear = BlockFrequencies(20);
    EXPECT_NEAR(static_cast<double>(linear[1]), 1071.58, 0.005);
    EXPECT_NEAR(static_cast<double>(linear[2]), 2123.16, 0.005);
    EXPECT_NEAR(static_cast<double>(linear.back()), 20000.01, 1e-9);
}

TEST_F(FastSweepTest, ReversedAndEqualLimits) {
    state.f_min = 20000;
    state.f_max = 20;
    state.RenderFastSweep(state.p_buffer1, 20);
    EXPECT_LT(state.f_step, 0);
    EXPECT_LT(state.f_ratio, 1);

    state.f_min = state.f_max = 1000;
    state.RenderFastSweep(state.p_buffer1, 1000);
    EXPECT_EQ(state.f_ratio, 1.0L);
    EXPECT_EQ(state.fl, 1000.0L);
    state.log_lin = modes::linear;
    state.RenderFastSweep(state.p_buffer1, 1000);
    EXPECT_NEAR(static_cast<double>(BlockFrequencies(1000).back()), 1000.01, 1e-9);
}

TEST_F(FastSweepTest, SilentChannelAndReversedPhase) {
    state.left_amplitude = 0;
    state.right_amplitude = LevelToAmplitude(12, 20);
    state.left_sine_table_valid = false;
    state.EnsureLeftTable();
    const int frames = state.RenderFastSweep(state.p_buffer1, 20);
    const auto left = Channel(*state.p_buffer1, frames, 0);
    EXPECT_TRUE(std::all_of(left.begin(), left.end(), [](audio_sample s) { return s == 0; }));

    state.left_amplitude = state.right_amplitude;
    state.out_level = out_levels::phase_reverse;
    state.left_sine_table_valid = state.right_sine_table_valid = false;
    state.EnsureLeftTable();
    state.EnsureRightTable();
    state.RenderFastSweep(state.p_buffer1, 1000);
    for (int i = 0; i < 57319; ++i) ASSERT_EQ((*state.p_buffer1)[2 * i + 1], -(*state.p_buffer1)[2 * i]) << i;
}

TEST_F(FastSweepTest, FewerThanTwoStepsRenderNothing) {
    EXPECT_EQ(state.RenderFastSweep(state.p_buffer1, 1), 0);
    EXPECT_EQ(state.RenderFastSweep(state.p_buffer1, 0), 0);
    EXPECT_EQ((*state.p_buffer1)[0], kUntouched);
}

}  // namespace
}  // namespace quorvex
