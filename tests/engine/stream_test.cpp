// SPDX-License-Identifier: GPL-3.0-or-later
// Creation defaults, PrepareSweep and QueueChunk: streamed output chunk by
// chunk, markers, manual steps and the refusals.

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/generator.h"
#include "tests/engine/fake_host.h"

namespace quorvex {
namespace {

using testing_support::RecordingHost;

bool IsSilent(const std::vector<audio_sample>& samples) {
    return std::all_of(samples.begin(), samples.end(), [](audio_sample s) { return s == 0; });
}

TEST(GeneratorCreation, DefaultsFormatAndMemory) {
    RecordingHost host;
    GeneratorState state{host};
    ASSERT_TRUE(state.HasMemory());
    EXPECT_EQ(state.chunk_ms, 250);
    EXPECT_EQ(state.slow_sweep_time, 45000);
    EXPECT_EQ(state.slow_sweep_chunks, 180);
    EXPECT_EQ(state.buffer_bytes, 114660);
    EXPECT_EQ(state.buffer_bytes / 2, 44100 * 13 / 10);  // 1.3 s of frames
    EXPECT_EQ(state.present_left_amplitude, -1.0L);
    EXPECT_EQ(state.present_right_amplitude, -1.0L);
    EXPECT_FALSE(state.left_sine_table_valid);
    EXPECT_FALSE(state.right_sine_table_valid);
    EXPECT_TRUE(state.locked_frequencies);
    EXPECT_EQ(state.out_level, out_levels::phase_normal);
    EXPECT_FALSE(state.shutoff);
    EXPECT_FALSE(state.sweep_running);
    EXPECT_EQ(state.hWave_out, 0);
    EXPECT_EQ(state.pcm.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(state.pcm.nChannels, 2);
    EXPECT_EQ(state.pcm.nSamplesPerSec, 44100u);
    EXPECT_EQ(state.pcm.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(state.pcm.nBlockAlign, 4);
    EXPECT_EQ(state.pcm.wBitsPerSample, 16);
    EXPECT_EQ(state.pcm.cbSize, 0);
    EXPECT_NE(state.p_wave_hdr1, nullptr);
    EXPECT_NE(state.p_wave_hdr2, nullptr);
    EXPECT_NE(state.p_wave_hdr1, state.p_wave_hdr2);
    EXPECT_EQ(state.p_wave_hdr1->dwBufferLength, 0u);
    EXPECT_TRUE(std::all_of(state.p_buffer1->begin(), state.p_buffer1->end(), [](audio_sample s) { return s == 0; }));
    EXPECT_TRUE(std::all_of(state.p_buffer2->begin(), state.p_buffer2->end(), [](audio_sample s) { return s == 0; }));
    host.low_power = 10;
    EXPECT_EQ(state.LevelToAmplitude(12), LevelToAmplitude(12, 10));
}

// A started output: amplitudes set, headers pointing at their buffers, the
// counters as the device layer leaves them when the device has opened.
class StreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(state.HasMemory());
        state.left_amplitude = LevelToAmplitude(12, 20);
        state.right_amplitude = LevelToAmplitude(12, 20);
        state.ResetHeaders();
    }
    void Start(speeds speed, modes mode = modes::logarithmic, int f_min = 20, int f_max = 20000) {
        state.speed = speed;
        state.log_lin = mode;
        state.f_min = f_min;
        state.f_max = f_max;
        state.left_angle = state.right_angle = 0;
        state.buffers_written = state.buffers_played = 0;
        ASSERT_EQ(state.PrepareSweep(), 0);
    }
    // Queues chunks the way the device returns the headers: 1, 2, 1, 2, ...
    void Queue(int chunks) {
        for (int i = 0; i < chunks; ++i)
            state.QueueChunk(next_header_++ % 2 == 0 ? *state.p_wave_hdr1 : *state.p_wave_hdr2, host);
    }
    // Frequencies of the chunks handed over, by write; markers as -1.
    std::vector<long double> Played(int chunks) {
        std::vector<long double> freqs;
        for (int i = 0; i < chunks; ++i) {
            const std::size_t before = host.writes.size();
            const std::size_t markers_before = host.marker_texts.size();
            Queue(1);
            if (host.writes.size() == before) break;
            freqs.push_back(host.marker_texts.size() != markers_before ? -1 : state.last_f);
        }
        return freqs;
    }

    RecordingHost host;
    GeneratorState state{host};
    int next_header_ = 0;
};

TEST_F(StreamTest, PlanSetsBothHeadersToOneChunk) {
    Start(speeds::no_sweep);
    EXPECT_EQ(state.p_wave_hdr1->dwBufferLength, 44100u);
    EXPECT_EQ(state.p_wave_hdr2->dwBufferLength, 44100u);
    EXPECT_TRUE(state.left_sine_table_valid);
    EXPECT_TRUE(state.right_sine_table_valid);
    EXPECT_EQ(state.chunk_freq, nullptr);
}

TEST_F(StreamTest, LoopingKindsRenderThePassAndLeaveTheHeaders) {
    state.speed = speeds::fast_smooth;
    EXPECT_EQ(state.PrepareSweep(), 57319);
    state.speed = speeds::fast_stepped;
    EXPECT_EQ(state.PrepareSweep(), 57330);
    EXPECT_EQ(state.p_wave_hdr1->dwBufferLength, 0u);
    EXPECT_EQ(state.p_wave_hdr2->dwBufferLength, 0u);
    EXPECT_TRUE(host.writes.empty());
}

// The start shared by the device and the render tool: what it prepares and
// hands over, in which order, and what a refusal leaves.
TEST_F(StreamTest, FirstBuffersOfAStart) {
    struct Case { speeds speed; int f_min; bool started; const char* sink_calls; };
    const Case cases[] = {
        {speeds::fast_smooth, 20, true, "P P W "}, {speeds::fast_stepped, 20, true, "P P W "},
        {speeds::slow, 20, true, "P W P W "},      {speeds::manual, 20, true, "P W P W "},
        {speeds::no_sweep, 20, true, "P W P W "},  {speeds::no_sweep, 0, false, ""},
        {speeds::fast_smooth, 0, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "speed " << static_cast<int>(c.speed) << " f_min " << c.f_min);
        host = RecordingHost{};
        state.speed = c.speed;
        state.f_min = c.f_min;
        state.f_max = 20000;
        // What an earlier playback may have left behind.
        *state.p_wave_hdr1 = WAVEHDR{};
        state.p_wave_hdr1->dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP | WHDR_DONE;
        state.p_wave_hdr1->dwLoops = 7;
        *state.p_wave_hdr2 = *state.p_wave_hdr1;
        state.buffers_written = 5;
        state.buffers_played = 4;
        state.left_sine_table_valid = state.right_sine_table_valid = false;

        ASSERT_EQ(state.QueueFirstBuffers(host), c.started);
        EXPECT_EQ(host.sink_calls, c.sink_calls);
        EXPECT_TRUE(state.left_sine_table_valid);
        EXPECT_TRUE(state.right_sine_table_valid);
        const WAVEHDR& h1 = *state.p_wave_hdr1;
        const WAVEHDR& h2 = *state.p_wave_hdr2;
        EXPECT_EQ(h1.lpData, reinterpret_cast<char*>(state.p_buffer1));
        EXPECT_EQ(h2.lpData, reinterpret_cast<char*>(state.p_buffer2));
        if (!c.started) continue;
        EXPECT_EQ(host.prepared, (std::vector<const WAVEHDR*>{&h1, &h2}));
        if (IsLooping(c.speed)) {
            const std::uint32_t frames = c.speed == speeds::fast_smooth ? 57319 : 57330;
            ASSERT_EQ(host.writes.size(), 1u);
            EXPECT_EQ(host.writes[0].header, &h1);
            EXPECT_EQ(h1.dwBufferLength, 4 * frames);
            EXPECT_EQ(h1.dwFlags, WHDR_BEGINLOOP | WHDR_ENDLOOP);
            EXPECT_EQ(h1.dwLoops, 0xFFFFFFFFu);
            const std::vector<audio_sample>& pass = host.writes[0].samples;
            EXPECT_TRUE(std::equal(pass.begin(), pass.end(), state.p_buffer1->begin()));
            EXPECT_EQ(h2.dwBufferLength, 0u);  // never handed over
            EXPECT_EQ(h2.dwFlags, 0u);
            EXPECT_EQ(h2.dwLoops, 1u);
        } else {
            ASSERT_EQ(host.writes.size(), 2u);
            EXPECT_EQ(host.writes[0].header, &h1);
            EXPECT_EQ(host.writes[1].header, &h2);
            for (const WAVEHDR* h : {&h1, &h2}) {
                EXPECT_EQ(h->dwBufferLength, 44100u);
                EXPECT_EQ(h->dwFlags, 0u);
                EXPECT_EQ(h->dwLoops, 1u);
            }
            EXPECT_EQ(state.buffers_written, 2);
            EXPECT_EQ(state.buffers_played, 0);
            EXPECT_FALSE(state.all_written());
        }
    }
}

// The refill protocol the device and the render tool share: each header
// that comes back is counted and refilled in place while chunks remain to
// hand over; once the last is out the rest only play out, and the output is
// over when the last one is back. Output that is not a slow sweep never ends.
TEST_F(StreamTest, ReturnedHeadersAreCountedRefilledAndEndTheSweep) {
    using R = GeneratorState::HeaderReturn;
    for (const speeds speed : {speeds::slow, speeds::no_sweep}) {
        SCOPED_TRACE(speed == speeds::slow ? "slow" : "no sweep");
        host = RecordingHost{};
        state.speed = speed;
        ASSERT_TRUE(state.QueueFirstBuffers(host));
        std::vector<R> results;
        for (int k = 0; k < 300 && (results.empty() || results.back() != R::AllPlayed); ++k) {
            WAVEHDR& returned = k % 2 == 0 ? *state.p_wave_hdr1 : *state.p_wave_hdr2;
            results.push_back(state.HeaderDone(returned, host));
            if (results.back() == R::Refilled) {
                EXPECT_EQ(host.writes.back().header, &returned);
            }
        }
        EXPECT_EQ(state.buffers_played, static_cast<int>(results.size()));
        EXPECT_EQ(state.buffers_written, static_cast<int>(host.writes.size()));
        if (speed == speeds::slow) {
            std::vector<R> expected(178, R::Refilled);
            expected.push_back(R::NotRefilled);
            expected.push_back(R::AllPlayed);
            EXPECT_EQ(results, expected);
            EXPECT_EQ(host.writes.size(), 180u);
            EXPECT_TRUE(state.all_written());
        } else {
            EXPECT_EQ(results, std::vector<R>(300, R::Refilled));
            EXPECT_FALSE(state.all_written());
        }
    }
}

TEST_F(StreamTest, SlowSweepHandsOverExactly180Chunks) {
    struct Case { modes mode; long double step; long double last; };
    const Case cases[] = {{modes::logarithmic, 0, 20000.0L}, {modes::linear, 111.62L, 20000.01L}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode == modes::linear ? "linear" : "log");
        host.writes.clear();
        Start(speeds::slow, c.mode);
        if (c.mode == modes::logarithmic) EXPECT_NEAR(static_cast<double>(state.f_ratio), 1.0393451, 5e-8);
        else EXPECT_NEAR(static_cast<double>(state.f_step), static_cast<double>(c.step), 0.005);
        const std::vector<long double> freqs = Played(200);
        ASSERT_EQ(freqs.size(), 180u);
        EXPECT_EQ(state.buffers_written, 180);
        EXPECT_TRUE(state.all_written());
        EXPECT_EQ(freqs.front(), 20.0L);
        EXPECT_NEAR(static_cast<double>(freqs.back()), static_cast<double>(c.last), 1e-9);
        EXPECT_EQ(FormatHz(freqs.back()), "20000 Hz");
        // The call after the last chunk changes nothing.
        const long double fl = state.fl;
        Queue(1);
        EXPECT_EQ(host.writes.size(), 180u);
        EXPECT_EQ(state.buffers_written, 180);
        EXPECT_EQ(state.fl, fl);
    }
}

TEST_F(StreamTest, MarkerChunksOfTheSlowSweep) {
    struct Case { modes mode; std::vector<std::size_t> markers; const char* first_text; };
    const Case cases[] = {
        {modes::logarithmic, {4, 13, 22, 31, 40, 49, 58, 67, 76, 85, 94, 102, 111, 120, 129, 138, 147, 156, 165, 174},
         "Last at:\r23 Hz"},
        {modes::linear, {1, 2, 3, 4, 5, 7, 9, 13, 19, 26, 37, 52, 74, 104, 147}, "Last at:\r132 Hz"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode == modes::linear ? "linear" : "log");
        host = RecordingHost{};
        state.do_markers = true;
        Start(speeds::slow, c.mode);
        Played(200);
        ASSERT_EQ(host.writes.size(), 180u);
        EXPECT_EQ(host.marker_at, c.markers);
        std::vector<std::size_t> silent;
        for (std::size_t i = 0; i < host.writes.size(); ++i)
            if (IsSilent(host.writes[i].samples)) silent.push_back(i);
        EXPECT_EQ(silent, c.markers);
        EXPECT_EQ(host.marker_texts.front(), c.first_text);
    }
}

TEST_F(StreamTest, MarkerGapKeepsThePhase) {
    state.do_markers = true;
    Start(speeds::slow);
    Queue(4);
    const int left = state.left_angle;
    const int right = state.right_angle;
    Queue(1);  // chunk 4 is a marker
    ASSERT_EQ(host.marker_texts.size(), 1u);
    EXPECT_EQ(state.left_angle, left);
    EXPECT_EQ(state.right_angle, right);
}

TEST_F(StreamTest, WithoutMarkerRequestNoChunkIsSilent) {
    Start(speeds::slow);
    Played(200);
    EXPECT_TRUE(host.marker_texts.empty());
    EXPECT_TRUE(std::none_of(host.writes.begin(), host.writes.end(), [](const auto& w) { return IsSilent(w.samples); }));
}

TEST_F(StreamTest, DownwardSlowSweepMarksLowerBands) {
    state.do_markers = true;
    Start(speeds::slow, modes::logarithmic, 20000, 20);
    const std::vector<long double> freqs = Played(200);
    ASSERT_EQ(freqs.size(), 180u);
    EXPECT_NEAR(static_cast<double>(state.last_f), 20.0, 1e-9);
    ASSERT_EQ(host.marker_at.size(), 20u);
    for (std::size_t i : host.marker_at)
        EXPECT_LT(HalfOctaveIndex(state.chunk_freq[i]), HalfOctaveIndex(state.chunk_freq[i - 1])) << "chunk " << i;
    EXPECT_EQ(host.marker_texts.back(), "Last at:\r22 Hz");  // the first entry below 16 * sqrt(2) Hz
}

TEST_F(StreamTest, PhasesCarryOverChunkToChunk) {
    state.f_min = 1000;
    Start(speeds::no_sweep, modes::logarithmic, 1000, 20000);
    Queue(1);
    EXPECT_EQ(state.left_angle, 1073739999);
    EXPECT_EQ(state.right_angle, 1073739999);
    Queue(1);
    EXPECT_EQ(state.left_angle, (2 * 1073739999) % (1 << 30));
    // The second chunk continues the first: its first sample is the table
    // entry at the phase the first one ended with.
    EXPECT_EQ(host.writes[1].samples[0], (*state.left_sine_table)[1073739999 >> 15]);
}

TEST_F(StreamTest, NoSweepPlaysTheLowerLimitUntilStopped) {
    Start(speeds::no_sweep, modes::linear, 440, 20000);
    const std::vector<long double> freqs = Played(400);
    EXPECT_EQ(freqs.size(), 400u);
    EXPECT_TRUE(std::all_of(freqs.begin(), freqs.end(), [](long double f) { return f == 440.0L; }));
    EXPECT_EQ(state.fr, 440.0L);
    EXPECT_EQ(state.buffers_written, 400);
    EXPECT_FALSE(state.all_written());
    EXPECT_EQ(host.writes[0].header, state.p_wave_hdr1);
    EXPECT_EQ(host.writes[1].header, state.p_wave_hdr2);
}

// No sweep plays the lower limit alone: an upper limit no logarithm could
// take (its edit is hidden in the window) does not stop it.
TEST_F(StreamTest, NoSweepTakesNoUpperLimit) {
    for (const int f_max : {0, -5}) {
        SCOPED_TRACE(f_max);
        Start(speeds::no_sweep, modes::logarithmic, 440, f_max);
        const std::vector<long double> freqs = Played(3);
        EXPECT_EQ(freqs, std::vector<long double>(3, 440.0L));
        EXPECT_EQ(state.fr, 440.0L);
    }
}

TEST_F(StreamTest, ManualStartTakesBothFrequenciesFromThePanelOnce) {
    host.manual = {100, 200};
    Start(speeds::manual);
    EXPECT_EQ(host.manual_asks, 1);
    EXPECT_EQ(state.fl, 100.0L);
    EXPECT_EQ(state.fr, 200.0L);
    Queue(3);  // holding: nothing moves
    EXPECT_EQ(state.fl, 100.0L);
    EXPECT_EQ(state.fr, 200.0L);
}

TEST_F(StreamTest, ManualStepsOnePerChunkAfterTheHandOver) {
    struct Case { modes mode; directions dir; };
    const Case cases[] = {
        {modes::logarithmic, directions::up}, {modes::logarithmic, directions::down},
        {modes::linear, directions::up}, {modes::linear, directions::down},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "linear=" << (c.mode == modes::linear) << " up=" << (c.dir == directions::up));
        host.manual = {1000, 3000};
        Start(speeds::manual, c.mode);
        const long double expected =
            c.mode == modes::linear ? (c.dir == directions::up ? state.f_step + 1000.0L : 1000.0L - state.f_step)
                                    : 1000.0L * (c.dir == directions::up ? state.f_ratio : state.f_inv_ratio);
        state.direction = c.dir;
        state.direction = c.dir;  // several presses between two chunks: one step
        Queue(1);
        EXPECT_EQ(state.last_f, 1000.0L);  // the chunk handed over kept the old frequency
        EXPECT_EQ(state.fl, expected);
        EXPECT_EQ(state.fr, expected);  // the right channel joins the left
        EXPECT_EQ(state.direction, directions::holding);
        Queue(1);
        EXPECT_EQ(state.last_f, expected);
        EXPECT_EQ(state.fl, expected);
    }
}

TEST_F(StreamTest, ManualLinearStepsMayLeaveTheRange) {
    host.manual = {20, 20};
    Start(speeds::manual, modes::linear);
    state.direction = directions::down;
    Queue(1);
    EXPECT_LT(state.fl, 0);
    Queue(1);  // a negative frequency still renders
    EXPECT_EQ(host.writes.size(), 2u);
}

TEST_F(StreamTest, DirectionHasNoEffectOutsideManual) {
    Start(speeds::no_sweep);
    state.direction = directions::up;
    Queue(2);
    EXPECT_EQ(state.fl, 20.0L);
    EXPECT_EQ(state.direction, directions::up);
}

TEST_F(StreamTest, LateChangesAreHeardInTheNextChunk) {
    Start(speeds::slow);
    Queue(2);
    state.fl = 5000;
    state.fr = 6000;
    Queue(1);
    EXPECT_EQ(state.last_f, 5000.0L);
    Queue(1);  // back on the table: entry 3
    EXPECT_EQ(state.last_f, state.chunk_freq[3]);
}

TEST_F(StreamTest, InertUnderShutoff) {
    Start(speeds::no_sweep);
    Queue(1);
    state.shutoff = true;
    std::vector<char> before(state.p_wave_hdr2->lpData, state.p_wave_hdr2->lpData + 44100);
    std::memset(state.p_wave_hdr2->lpData, 0x7f, 44100);
    Queue(1);
    EXPECT_EQ(host.writes.size(), 1u);
    EXPECT_EQ(state.buffers_written, 1);
    EXPECT_EQ(state.p_wave_hdr2->lpData[0], 0x7f);
    EXPECT_EQ(state.p_wave_hdr2->lpData[44099], 0x7f);
    EXPECT_EQ(state.fl, 20.0L);
}

TEST_F(StreamTest, ChunkTableOnlyForSlowSweeps) {
    Start(speeds::slow);
    ASSERT_NE(state.chunk_freq, nullptr);
    Start(speeds::manual);
    EXPECT_EQ(state.chunk_freq, nullptr);
}

TEST_F(StreamTest, UnusableLimitsOrMemoryChangeNothing) {
    struct Case { speeds speed; int f_min, f_max; };
    const Case cases[] = {
        {speeds::fast_smooth, 0, 20000}, {speeds::fast_stepped, 20, 0}, {speeds::slow, -20, 20000},
        {speeds::manual, 20, -20000}, {speeds::no_sweep, 0, 0}, {speeds::slow, -20, -20000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.f_min << ".." << c.f_max);
        Start(speeds::slow);  // leaves a plan behind
        state.p_buffer1->fill(3);
        state.speed = c.speed;
        state.f_min = c.f_min;
        state.f_max = c.f_max;
        state.left_sine_table_valid = false;
        const long double fl = state.fl;
        const long double ratio = state.f_ratio;
        const long double* table = state.chunk_freq.get();
        EXPECT_EQ(state.PrepareSweep(), GeneratorState::kCannotPrepare);
        EXPECT_EQ(state.fl, fl);
        EXPECT_EQ(state.f_ratio, ratio);
        EXPECT_EQ(state.chunk_freq.get(), table);
        EXPECT_EQ(state.p_wave_hdr1->dwBufferLength, 44100u);
        EXPECT_EQ((*state.p_buffer1)[0], 3);
        EXPECT_EQ(host.manual_asks, 0);
    }
    state.f_min = 20;
    state.f_max = 20000;
    state.p_buffer2 = nullptr;  // as if the buffer could not be obtained
    EXPECT_EQ(state.PrepareSweep(), GeneratorState::kCannotPrepare);
}

}  // namespace
}  // namespace quorvex
