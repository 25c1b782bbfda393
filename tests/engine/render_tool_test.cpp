// SPDX-License-Identifier: GPL-3.0-or-later
// quorvex-render run as a process: its WAV output checked sample by sample
// against expectations computed here, and its refusals.

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/generator.h"
#include "tests/engine/fake_host.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using testing_support::RecordingHost;

struct Result {
    int status = -1;
    std::string err;
};

struct Wav {
    std::vector<unsigned char> header;
    std::vector<audio_sample> samples;
};

std::uint32_t Le(const std::vector<unsigned char>& b, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | b[at + static_cast<std::size_t>(i)];
    return v;
}

// One channel of interleaved samples.
std::vector<audio_sample> Channel(const std::vector<audio_sample>& samples, int channel) {
    std::vector<audio_sample> out;
    for (std::size_t i = static_cast<std::size_t>(channel); i < samples.size(); i += 2) out.push_back(samples[i]);
    return out;
}

// A steady tone from phase 0, computed without the engine's oscillator.
std::vector<audio_sample> Tone(long double amplitude, long double f, std::size_t frames) {
    auto table = std::make_unique<TSineTable>();
    BuildSineTable(*table, amplitude);
    const auto inc = static_cast<std::uint32_t>(PhaseIncrement(f));
    std::vector<audio_sample> out;
    std::uint32_t phase = 0;
    for (std::size_t i = 0; i < frames; ++i, phase = (phase + inc) % (1u << 30)) out.push_back((*table)[phase >> 15]);
    return out;
}

class RenderToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "quorvex-render-test.XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        out_ = dir_ / "out.wav";
    }
    void TearDown() override { fs::remove_all(dir_); }

    Result Run(const std::vector<std::string>& args) const {
        std::string command = "'" QUORVEX_RENDER_PATH "'";
        for (const std::string& a : args) command += " '" + a + "'";
        const fs::path err = dir_ / "stderr.txt";
        command += " 2>'" + err.string() + "'";
        Result r;
        const int raw = std::system(command.c_str());
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        std::ifstream in(err);
        r.err.assign(std::istreambuf_iterator<char>(in), {});
        fs::remove(err);
        return r;
    }

    // Renders with the given options into out.wav and reads it back.
    Wav Render(std::vector<std::string> args) const {
        args.insert(args.begin(), {"-o", out_.string()});
        const Result r = Run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        std::ifstream in(out_, std::ios::binary);
        std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), {});
        Wav wav;
        if (bytes.size() < 44) {
            ADD_FAILURE() << "no WAV header";
            return wav;
        }
        wav.header.assign(bytes.begin(), bytes.begin() + 44);
        for (std::size_t i = 44; i + 1 < bytes.size(); i += 2)
            wav.samples.push_back(static_cast<audio_sample>(static_cast<std::uint16_t>(Le(bytes, i, 2))));
        EXPECT_EQ(Le(wav.header, 40, 4), bytes.size() - 44);
        return wav;
    }

    // Everything left in the directory besides what a test put there.
    std::vector<fs::path> Leftovers() const {
        return {fs::directory_iterator(dir_), fs::directory_iterator()};
    }

    fs::path dir_;
    fs::path out_;
};

TEST_F(RenderToolTest, StandardPcmHeader) {
    const Wav wav = Render({"--speed", "no-sweep", "--chunks", "1"});
    const auto& h = wav.header;
    EXPECT_EQ(std::string(h.begin(), h.begin() + 4), "RIFF");
    EXPECT_EQ(Le(h, 4, 4), 36u + 44100u);
    EXPECT_EQ(std::string(h.begin() + 8, h.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(Le(h, 16, 4), 16u);
    EXPECT_EQ(Le(h, 20, 2), 1u);       // PCM
    EXPECT_EQ(Le(h, 22, 2), 2u);       // stereo
    EXPECT_EQ(Le(h, 24, 4), 44100u);
    EXPECT_EQ(Le(h, 28, 4), 176400u);
    EXPECT_EQ(Le(h, 32, 2), 4u);
    EXPECT_EQ(Le(h, 34, 2), 16u);
    EXPECT_EQ(std::string(h.begin() + 36, h.begin() + 40), "data");
    EXPECT_EQ(wav.samples.size(), 22050u);
}

TEST_F(RenderToolTest, SteadyTonesMatchAnIndependentOscillator) {
    struct Case {
        std::vector<std::string> args;
        long double left_amplitude, left_f, right_amplitude, right_f;
        std::size_t frames;
    };
    const long double a12 = LevelToAmplitude(12, 20);
    const Case cases[] = {
        // Defaults of the program: wide range, levels 12, step 20; no sweep plays f_min.
        {{"--speed", "no-sweep"}, a12, 20, a12, 20, 40 * 11025},
        {{"--speed", "no-sweep", "--from", "1000", "--left-level", "0", "--right-off", "--chunks", "3"},
         1, 1000, 0, 1000, 3 * 11025},
        {{"--speed", "no-sweep", "--from", "$1B8", "--left-level", "20", "--step", "10", "--right-level", "26",
          "--channels", "180", "--chunks", "2"},
         LevelToAmplitude(20, 10), 440, -LevelToAmplitude(26, 10), 440, 2 * 11025},
        // Limits read as the window's limit fields read them: leading blanks, a sign, hex.
        {{"--speed", "no-sweep", "--from", " +0x96", "--to", "300", "--chunks", "1"}, a12, 150, a12, 150, 11025},
        // The manual bars, each on its own: 179 is one linear step up, 90 the middle.
        {{"--speed", "manual", "--mode", "linear", "--left-bar", "179", "--right-bar", "90", "--chunks", "2"},
         a12, BarFrequency(20, 20000, modes::linear, 180, 1, 179), a12,
         BarFrequency(20, 20000, modes::linear, 180, 1, 90), 2 * 11025},
        {{"--speed", "manual", "--range", "speech", "--right-bar", "1", "--left-off", "--chunks", "1"},
         0, 300, a12, BarFrequency(300, 3000, modes::logarithmic, 180, 1, 1), 11025},
    };
    for (const Case& c : cases) {
        std::string name;
        for (const std::string& a : c.args) name += a + " ";
        SCOPED_TRACE(name);
        const Wav wav = Render(c.args);
        ASSERT_EQ(wav.samples.size(), 2 * c.frames);
        EXPECT_EQ(Channel(wav.samples, 0), Tone(c.left_amplitude, c.left_f, c.frames));
        EXPECT_EQ(Channel(wav.samples, 1), Tone(c.right_amplitude, c.right_f, c.frames));
    }
}

TEST_F(RenderToolTest, FastPassesRepeatTheLoopingBuffer) {
    struct Case { std::vector<std::string> args; speeds speed; modes mode; int lo, hi; out_levels channels; int passes; };
    const Case cases[] = {
        {{}, speeds::fast_smooth, modes::logarithmic, 20, 20000, out_levels::phase_normal, 1},
        {{"--speed", "fast-stepped", "--range", "speech", "--channels", "180", "--passes", "3"},
         speeds::fast_stepped, modes::logarithmic, 300, 3000, out_levels::phase_reverse, 3},
        {{"--speed", "fast-smooth", "--mode", "linear", "--range", "lf", "--passes", "2"},
         speeds::fast_smooth, modes::linear, 50, 1000, out_levels::phase_normal, 2},
    };
    for (const Case& c : cases) {
        const Wav wav = Render(c.args);
        // The same pass as the engine hands it to the device at a start, set
        // up as the tool's options say.
        RecordingHost host;
        GeneratorState state{host};
        state.speed = c.speed;
        state.log_lin = c.mode;
        state.f_min = c.lo;
        state.f_max = c.hi;
        state.out_level = c.channels;
        state.left_amplitude = state.right_amplitude = LevelToAmplitude(12, 20);
        ASSERT_TRUE(state.QueueFirstBuffers(host));
        ASSERT_EQ(host.writes.size(), 1u);
        const std::vector<audio_sample>& pass_samples = host.writes[0].samples;
        ASSERT_EQ(wav.samples.size(), pass_samples.size() * static_cast<std::size_t>(c.passes));
        for (int pass = 0; pass < c.passes; ++pass)
            ASSERT_TRUE(std::equal(pass_samples.begin(), pass_samples.end(),
                                   wav.samples.begin() + static_cast<std::ptrdiff_t>(pass_samples.size()) * pass))
                << "pass " << pass;
        const int silent_frames = c.speed == speeds::fast_smooth ? 333 * 43 : 6 * 2205;
        EXPECT_TRUE(std::all_of(wav.samples.begin(), wav.samples.begin() + 2 * silent_frames, [](audio_sample s) { return s == 0; }));
        if (c.channels == out_levels::phase_reverse) {
            for (std::size_t i = 0; i < wav.samples.size(); i += 2) ASSERT_EQ(wav.samples[i + 1], -wav.samples[i]) << i;
        }
    }
}

TEST_F(RenderToolTest, SlowSweepWithMarkersIsTheQueuedStream) {
    const Wav wav = Render({"--speed", "slow", "--markers", "--chunks", "500"});
    // The same sweep as the engine hands it to the device: the start's two
    // chunks, then one refill per returned header.
    RecordingHost host;
    GeneratorState state{host};
    state.speed = speeds::slow;
    state.do_markers = true;
    state.left_amplitude = state.right_amplitude = LevelToAmplitude(12, 20);
    ASSERT_TRUE(state.QueueFirstBuffers(host));
    for (int i = 0; i < 200; ++i) state.QueueChunk(i % 2 == 0 ? *state.p_wave_hdr1 : *state.p_wave_hdr2, host);
    ASSERT_EQ(host.writes.size(), 180u);
    ASSERT_EQ(wav.samples.size(), 180u * 22050u);  // it ends by itself
    for (std::size_t k = 0; k < 180; ++k)
        ASSERT_TRUE(std::equal(host.writes[k].samples.begin(), host.writes[k].samples.end(), wav.samples.begin() + 22050 * k))
            << "chunk " << k;
    // Chunk 4 is the first marker: silence.
    EXPECT_TRUE(std::all_of(wav.samples.begin() + 4 * 22050, wav.samples.begin() + 5 * 22050, [](audio_sample s) { return s == 0; }));
    EXPECT_FALSE(std::all_of(wav.samples.begin() + 3 * 22050, wav.samples.begin() + 4 * 22050, [](audio_sample s) { return s == 0; }));
}

TEST_F(RenderToolTest, LengthsInChunksPassesOrSeconds) {
    struct Case {
        std::vector<std::string> args;
        std::size_t frames;
    };
    const Case cases[] = {
        {{"--speed", "manual"}, 40 * 11025},
        {{"--speed", "slow", "--chunks", "1"}, 11025},
        {{"--speed", "slow", "--chunks", "7"}, 7 * 11025},
        {{"--speed", "no-sweep", "--chunks", "300"}, 300 * 11025},
        // A time takes whole chunks or passes covering it: 10 s is 40
        // chunks, or 8 passes of 57319 (smooth) or 57330 frames (stepped).
        {{"--speed", "manual", "--seconds", "10"}, 40 * 11025},
        {{"--speed", "no-sweep", "--seconds", "1"}, 4 * 11025},
        {{"--seconds", "10"}, 8 * 57319},
        {{"--speed", "fast-stepped", "--seconds", "10"}, 8 * 57330},
        {{"--speed", "fast-stepped", "--seconds", "1"}, 57330},
        // A slow sweep ends after its 180 chunks whatever time is asked.
        {{"--speed", "slow", "--seconds", "60"}, 180 * 11025},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        EXPECT_EQ(Render(c.args).samples.size(), 2 * c.frames);
    }
}

TEST_F(RenderToolTest, RefusalsWriteNothing) {
    const std::string out = out_.string();
    const std::vector<std::vector<std::string>> cases = {
        {"--speed", "slow"},  // no output file
        {"-o", out, "--speed", "fast"},
        {"-o", out, "--mode", "exp"},
        {"-o", out, "--range", "mf"},
        {"-o", out, "--channels", "90"},
        {"-o", out, "--left-level", "27"},
        {"-o", out, "--right-level", "-1"},
        {"-o", out, "--step", "0"},
        {"-o", out, "--step", "31"},
        {"-o", out, "--left-bar", "0"},
        {"-o", out, "--right-bar", "181"},
        {"-o", out, "--passes", "0"},
        {"-o", out, "--chunks", "x"},
        {"-o", out, "--seconds", "0"},
        {"-o", out, "--seconds", "24001"},
        {"-o", out, "--seconds", "10", "--passes", "2"},
        {"-o", out, "--chunks", "4", "--seconds", "1"},
        {"-o", out, "--volume", "3"},
        {"-o", out, "--from"},
        {"-o", out, "--from", "0"},
        {"-o", out, "--to", "-20000"},
        {"-o", out, "--speed", "manual", "--from", "abc", "--to", "0"},
        {"-o", out, "--speed", "slow", "--from", "-$10"},
    };
    for (const auto& args : cases) {
        std::string name;
        for (const std::string& a : args) name += a + " ";
        SCOPED_TRACE(name);
        const Result r = Run(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("quorvex-render: "), std::string::npos) << r.err;
        EXPECT_TRUE(Leftovers().empty());
    }
    EXPECT_NE(Run({"-o", out, "--from", "0"}).err.find("0 Hz and 20000 Hz"), std::string::npos);
}

TEST_F(RenderToolTest, UnwritableTargetFailsWithoutLeftovers) {
    const Result r = Run({"-o", (dir_ / "missing" / "out.wav").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
    EXPECT_TRUE(Leftovers().empty());
}

}  // namespace
}  // namespace quorvex
