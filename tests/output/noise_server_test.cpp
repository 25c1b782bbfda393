// SPDX-License-Identifier: GPL-3.0-or-later
// The noise player on a real sound server, together with tone output.

#include <gtest/gtest.h>
#include <cstring>

#include "output/noise_player.h"
#include "output/pulse_wave_device.h"
#include "output/start_texts.h"
#include "output/wave_resource.h"
#include "tests/output/playback_rig.h"
#include "tests/output/pulse_server.h"

namespace quorvex {
namespace {

using testing_support::PlaybackRig;
using testing_support::PrivatePulseServer;
using testing_support::WaitUntil;

// One channel of an interleaved stereo recording.
std::vector<std::int16_t> Channel(const std::vector<std::int16_t>& stereo, int channel) {
    std::vector<std::int16_t> out;
    for (std::size_t i = static_cast<std::size_t>(channel); i < stereo.size(); i += 2) out.push_back(stereo[i]);
    return out;
}

// The server sums the two streams (saturating): once the noise is taken
// out, the rest must be the tone, sample for sample, wherever the sum did
// not clip. Returns the samples so checked.
std::size_t CheckToneUnderNoise(const std::vector<std::int16_t>& mixed, const std::vector<std::int16_t>& noise,
                                std::size_t noise_start, const std::vector<std::int16_t>& tone) {
    std::vector<int> rest(mixed.size(), 0);
    for (std::size_t i = noise_start; i < mixed.size(); ++i) {
        rest[i] = mixed[i] - noise[(i - noise_start) % noise.size()];
    }
    const auto clipped = [&](std::size_t i) { return mixed[i] == 32767 || mixed[i] == -32768; };
    // Unclipped samples of the tone from `start` on that match, up to the
    // first that does not.
    const auto matching = [&](std::size_t start, std::size_t count) {
        std::size_t k = 0;
        for (; k < count && start + k < mixed.size(); ++k) {
            if (!clipped(start + k) && rest[start + k] != tone[k]) break;
        }
        return k;
    };
    std::size_t first = noise_start;
    while (first < mixed.size() && rest[first] == 0) ++first;
    // The tone begins a few samples before the first difference: it starts at
    // phase 0, and where the sum clipped the difference does not show.
    const std::size_t earliest = first > noise_start + 64 ? first - 64 : noise_start;
    for (std::size_t start = earliest; start <= first && first < mixed.size(); ++start) {
        if (matching(start, 256) < 256) continue;
        const std::size_t matched = matching(start, tone.size());
        EXPECT_EQ(matched, tone.size()) << "tone differs at sample " << matched;
        std::size_t checked = 0;
        for (std::size_t k = 0; k < matched; ++k) checked += clipped(start + k) ? 0 : 1;
        return checked;
    }
    ADD_FAILURE() << "no tone found near sample " << first << " of " << mixed.size();
    return 0;
}

TEST(NoiseOnServer, NoiseAndToneAreMixedAndBothPlayedExactly) {
    PrivatePulseServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    ASSERT_TRUE(server.StartRecording());

    NoisePlayer noise;
    ASSERT_TRUE(noise.PlayWaveResource("WhiteNoise"));
    WaitUntil([] { return false; }, 300);

    PulseWaveDevice tone_device;
    PlaybackRig rig(tone_device);
    rig.gen.speed = speeds::no_sweep;
    rig.view.lower = "440";
    rig.playback.btnStartClick();
    ASSERT_TRUE(WaitUntil([&] { return rig.gen.buffers_played >= 1; }, 3000));
    rig.playback.StopOutput();
    EXPECT_TRUE(noise.playing());  // the tone's stop leaves the noise alone
    WaitUntil([] { return false; }, 200);
    noise.Stop();
    const std::vector<std::int16_t> recording = server.StopRecording();

    const std::optional<WaveData> wave = ReadWave(FindWaveResource("WhiteNoise"));
    std::vector<std::int16_t> samples(wave->samples.size() / 2);
    std::memcpy(samples.data(), wave->samples.data(), wave->samples.size());
    const std::vector<std::int16_t> left = Channel(recording, 0);
    const std::vector<std::int16_t> right = Channel(recording, 1);
    // Mono noise reaches both channels unchanged before the tone starts.
    const std::vector<std::int16_t> opening(samples.begin(), samples.begin() + 4410);
    const std::ptrdiff_t at = testing_support::Find(left, opening);
    ASSERT_GE(at, 0) << "noise not found";
    EXPECT_EQ(testing_support::Find(right, opening), at);

    const std::vector<std::int16_t> tone = testing_support::EngineRender(rig.gen, 1);
    const std::size_t start = static_cast<std::size_t>(at);
    EXPECT_GT(CheckToneUnderNoise(left, samples, start, Channel(tone, 0)), 8500u);
    EXPECT_GT(CheckToneUnderNoise(right, samples, start, Channel(tone, 1)), 8500u);
}

// The server goes away while the noise plays (its process ends at once, as
// in a crash): the player reports the loss once and no longer counts as
// playing, so the next start opens afresh, and with a server back it is
// heard.
TEST(NoiseOnServer, ALostServerIsReportedOnceAndTheNextPlayIsHeard) {
    NoisePlayer noise;
    int losses = 0;
    LossCause cause = LossCause::None;
    noise.SetLostHandler([&](LossCause why) {
        ++losses;
        cause = why;
    });
    {
        PrivatePulseServer server;
        ASSERT_TRUE(server.ok()) << server.error();
        ASSERT_TRUE(noise.PlayWaveResource("WhiteNoise"));
        WaitUntil([] { return false; }, 300);
        server.Kill();
        ASSERT_TRUE(WaitUntil([&] { return losses > 0; }, 3000));
        EXPECT_FALSE(noise.playing());
        EXPECT_EQ(NoiseLostText(cause), "White noise stopped.\rThe sound server closed the connection.");
    }
    WaitUntil([] { return false; }, 200);
    EXPECT_EQ(losses, 1);

    PrivatePulseServer again;
    ASSERT_TRUE(again.ok()) << again.error();
    ASSERT_TRUE(again.StartRecording());
    ASSERT_TRUE(noise.PlayWaveResource("WhiteNoise"));
    WaitUntil([] { return false; }, 500);
    noise.Stop();
    const std::vector<std::int16_t> recording = again.StopRecording();
    const std::optional<WaveData> wave = ReadWave(FindWaveResource("WhiteNoise"));
    const auto* first = reinterpret_cast<const std::int16_t*>(wave->samples.data());
    EXPECT_GE(testing_support::Find(Channel(recording, 0), std::vector<std::int16_t>(first, first + 4410)), 0);
    EXPECT_EQ(losses, 1);
}

}  // namespace
}  // namespace quorvex
