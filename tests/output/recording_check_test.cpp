// SPDX-License-Identifier: GPL-3.0-or-later
// The recording check that the real-server tests judge by: which faults in
// a recording a busy server makes by itself, and which only a client that
// loses or changes what it wrote can make, whole frames and each channel on
// its own.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "tests/output/pulse_recording.h"

namespace quorvex {
namespace {

using testing_support::CompareChannelWithRender;
using testing_support::CompareWithRender;
using testing_support::RecordingCheck;

constexpr std::size_t kFrames = 8192;
constexpr std::size_t kCycle = 512;

// Stereo frames that never repeat and are never silent, the channels unalike.
std::vector<std::int16_t> Render() {
    std::vector<std::int16_t> render(2 * kFrames);
    std::uint32_t x = 12345;
    for (std::int16_t& sample : render) {
        x = x * 1664525u + 1013904223u;
        sample = static_cast<std::int16_t>((x >> 16) | 1);
    }
    return render;
}

using Samples = std::vector<std::int16_t>;

// The recording: silence, then the render as `play` changes it.
Samples Record(const std::function<void(Samples&)>& play) {
    Samples played = Render();
    play(played);
    Samples recording(2 * 300, 0);
    recording.insert(recording.end(), played.begin(), played.end());
    recording.insert(recording.end(), 2 * 300, 0);
    return recording;
}

// Frames [from, from + n) of channel `channel` (-1: both) replaced by silence.
void Silence(Samples& s, std::size_t from, std::size_t n, int channel = -1) {
    for (std::size_t f = from; f < from + n; ++f) {
        if (channel != 1) s[2 * f] = 0;
        if (channel != 0) s[2 * f + 1] = 0;
    }
}

// Silence inserted before frame `at` of one channel or both (the rest comes later).
void Insert(Samples& s, std::size_t at, std::size_t n, int channel = -1) {
    Samples out;
    for (int c : {0, 1}) {
        Samples mono;
        for (std::size_t f = 0; f < s.size() / 2; ++f) {
            if (f == at && (channel == -1 || channel == c)) mono.insert(mono.end(), n, 0);
            mono.push_back(s[2 * f + static_cast<std::size_t>(c)]);
        }
        mono.resize(s.size() / 2 + n, 0);  // the channel that got none ends in silence
        out.resize(2 * mono.size());
        for (std::size_t f = 0; f < mono.size(); ++f) out[2 * f + static_cast<std::size_t>(c)] = mono[f];
    }
    s = out;
}

struct Case {
    const char* what;
    std::function<void(Samples&)> play;
    bool exact;
    bool frames_server_only;  // judged on whole frames
    bool channels_server_only;  // judged on each channel alone
};

TEST(RecordingCheck, TellsServerFaultsFromLostOrChangedFrames) {
    const std::vector<Case> cases = {
        {"played as rendered", [](Samples&) {}, true, true, true},
        {"a late write: silence, then every frame", [](Samples& s) { Insert(s, 3000, kCycle); }, false, true, true},
        {"a missed cycle: silence in place of frames", [](Samples& s) { Silence(s, 3000, kCycle); }, false, true,
         true},
        {"one channel silent for a cycle", [](Samples& s) { Silence(s, 3000, kCycle, 0); }, false, false, true},
        {"one channel a cycle late", [](Samples& s) { Insert(s, 3000, kCycle, 1); }, false, false, true},
        {"an overwrite: frames skipped without silence",
         [](Samples& s) { s.erase(s.begin() + 2 * 3000, s.begin() + 2 * (3000 + kCycle)); }, false, false, false},
        {"changed frames",
         [](Samples& s) {
             for (std::size_t i = 2 * 3000; i < 2 * 3100; ++i) s[i] = static_cast<std::int16_t>(s[i] ^ 0x40);
         },
         false, false, false},
        {"the end cut off", [](Samples& s) { s.resize(2 * (kFrames - kCycle)); }, false, false, false},
    };
    const Samples render = Render();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Samples recording = Record(c.play);
        const RecordingCheck frames = CompareWithRender(recording, render);
        EXPECT_TRUE(frames.found);
        EXPECT_EQ(frames.exact(), c.exact);
        EXPECT_EQ(frames.only_server_faults(), c.frames_server_only);
        for (const int channel : {0, 1}) {
            EXPECT_EQ(CompareChannelWithRender(recording, render, channel).only_server_faults(),
                      c.channels_server_only)
                << "channel " << channel;
        }
        if (!c.exact && frames.missing == 0) {
            EXPECT_EQ(frames.first_fault, 3000u) << "where the fault is";
        }
    }
}

}  // namespace
}  // namespace quorvex
