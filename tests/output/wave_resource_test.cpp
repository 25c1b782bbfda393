// SPDX-License-Identifier: GPL-3.0-or-later
// The embedded WhiteNoise resource and the wave reading behind the player.

#include "output/wave_resource.h"

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "output/noise_player.h"
#include "output/virtual_wave_device.h"
#include "tests/support/scoped_c_locale.h"

namespace quorvex {
namespace {

std::uint32_t At(std::span<const std::byte> bytes, std::size_t offset, int width) {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + offset, static_cast<std::size_t>(width));
    return value;
}

std::string Id(std::span<const std::byte> bytes, std::size_t offset) {
    return std::string(reinterpret_cast<const char*>(bytes.data() + offset), 4);
}

TEST(WaveResource, WhiteNoiseIsTheDocumentedFileFoundInAnyCase) {
    const std::span<const std::byte> file = FindWaveResource("WhiteNoise");
    ASSERT_EQ(file.size(), 1048620u);
    EXPECT_EQ(Id(file, 0), "RIFF");
    EXPECT_EQ(At(file, 4, 4), 1048612u);
    EXPECT_EQ(Id(file, 8), "WAVE");
    EXPECT_EQ(Id(file, 12), "fmt ");
    EXPECT_EQ(At(file, 16, 4), 16u);
    EXPECT_EQ(At(file, 20, 2), 1u);
    EXPECT_EQ(At(file, 22, 2), 1u);
    EXPECT_EQ(At(file, 24, 4), 44100u);
    EXPECT_EQ(At(file, 28, 4), 88200u);
    EXPECT_EQ(At(file, 32, 2), 2u);
    EXPECT_EQ(At(file, 34, 2), 16u);
    EXPECT_EQ(Id(file, 36), "data");
    EXPECT_EQ(At(file, 40, 4), 1048576u);

    for (const char* name : {"WHITENOISE", "whitenoise", "wHiTeNoIsE"}) {
        EXPECT_EQ(FindWaveResource(name).data(), file.data()) << name;
    }
    for (const char* name : {"", "White Noise", "WhiteNoise2", "Noise"}) {
        EXPECT_TRUE(FindWaveResource(name).empty()) << name;
    }
}

// The user's locale has no say in the lookup: under Turkish rules the C
// library's upper case of 'i' is 'i' (its capital, a dotted I, takes two
// bytes), and the button's "WhiteNoise" then missed the stored WHITENOISE.
TEST(WaveResource, NamesMatchByAsciiCaseUnderATurkishLocale) {
    const testing_support::ScopedCLocale turkish(LC_CTYPE_MASK, "tr_TR.UTF-8");
    if (!turkish.ok()) GTEST_SKIP() << turkish.error();
    const std::byte* stored = FindWaveResource("WHITENOISE").data();
    ASSERT_NE(stored, nullptr);
    const struct {
        const char* name;
        bool found;
    } rows[] = {
        {"WhiteNoise", true},  // as the button asks for it
        {"whitenoise", true},
        {"WHITENOISE", true},
        {"Wh\xC4\xB1teNoise", false},  // a dotless i is another letter
        {"Wh\xC4\xB0teNoise", false},  // and so is a dotted capital I
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(FindWaveResource(row.name).data(), row.found ? stored : nullptr);
    }
}

TEST(WaveResource, WhiteNoiseSamplesAreUniformAndIndependent) {
    const std::optional<WaveData> wave = ReadWave(FindWaveResource("WhiteNoise"));
    ASSERT_TRUE(wave);
    ASSERT_EQ(wave->samples.size(), 1048576u);
    std::vector<std::int16_t> samples(524288);
    std::memcpy(samples.data(), wave->samples.data(), wave->samples.size());

    double sum = 0, squares = 0, lagged = 0;
    std::vector<int> bins(16);  // the 16-bit range in 16 equal parts
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double s = samples[i];
        sum += s;
        squares += s * s;
        if (i > 0) lagged += s * samples[i - 1];
        ++bins[static_cast<std::size_t>((samples[i] + 32768) >> 12)];
    }
    const double n = static_cast<double>(samples.size());
    const double mean = sum / n;
    const double variance = squares / n - mean * mean;
    EXPECT_LT(std::abs(mean), 100.0);
    EXPECT_NEAR(std::sqrt(variance), 18918.0, 100.0);  // 65536 / sqrt(12)
    EXPECT_LT(std::abs((lagged / (n - 1) - mean * mean) / variance), 0.01);
    for (const int count : bins) EXPECT_NEAR(count, 32768, 800);
    EXPECT_EQ(*std::min_element(samples.begin(), samples.end()), -32768);
    EXPECT_EQ(*std::max_element(samples.begin(), samples.end()), 32767);
}

std::vector<std::byte> Bytes(std::string_view text) {
    std::vector<std::byte> bytes;
    for (const char c : text) bytes.push_back(static_cast<std::byte>(c));
    return bytes;
}

std::string Chunk(std::string_view id, std::string_view body, std::uint32_t size) {
    std::string chunk(id);
    for (int i = 0; i < 4; ++i) chunk += static_cast<char>((size >> (8 * i)) & 0xFF);
    return chunk + std::string(body);
}
std::string Chunk(std::string_view id, std::string_view body) {
    return Chunk(id, body, static_cast<std::uint32_t>(body.size()));
}

// Every row is read from a buffer of exactly its size, so that a read past
// the end shows under AddressSanitizer.
TEST(WaveResource, ReadWaveReadsOnlyInsideTheFileAndRefusesWhatIsNotAPcmWave) {
    const std::string pcm = std::string("\x01\0\x01\0\x44\xAC\0\0\x88\x58\x01\0\x02\0\x10\0", 16);
    const std::string riff = std::string("RIFF\0\0\0\0WAVE", 12);
    const std::string fmt = Chunk("fmt ", pcm);
    const std::string data = Chunk("data", "\x01\x02\x03\x04");
    struct Row {
        const char* why;
        std::string bytes;
        std::size_t samples;  // bytes of sound found; 0: refused
    };
    const Row rows[] = {
        {"a whole file", riff + fmt + data, 4},
        {"an odd-sized chunk is followed by its pad byte", riff + fmt + Chunk("LIST", "abc") + "x" + data, 4},
        {"an odd-sized sound chunk may end the file without its pad", riff + fmt + Chunk("data", "\x01\x02\x03"), 3},
        {"an odd-sized last chunk without its pad and no sound", riff + fmt + Chunk("LIST", "abc"), 0},
        {"nothing at all", "", 0},
        {"only the RIFF header", riff, 0},
        {"not RIFF", "RIFX" + riff.substr(4) + fmt + data, 0},
        {"the sound chunk runs past the end", (riff + fmt + data).substr(0, 12 + 24 + 11), 0},
        {"a chunk size far past the end", riff + fmt + Chunk("LIST", "abcd", 0xFFFFFFF0u) + data, 0},
        {"a chunk header cut short", riff + fmt + "LIS", 0},
        {"no format chunk", riff + data, 0},
        {"the sound before its format", riff + data + fmt, 0},
        {"a format chunk too short", riff + Chunk("fmt ", pcm.substr(0, 14)) + data, 0},
        {"not PCM", riff + Chunk("fmt ", "\x03" + pcm.substr(1)) + data, 0},
        {"no sound chunk", riff + fmt, 0},
        {"a sound chunk of size 0", riff + fmt + Chunk("data", ""), 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        const std::vector<std::byte> bytes = Bytes(row.bytes);
        const std::optional<WaveData> wave = ReadWave(bytes);
        if (row.samples == 0) {
            EXPECT_FALSE(wave);
        } else {
            ASSERT_TRUE(wave);
            EXPECT_EQ(wave->samples.size(), row.samples);
            EXPECT_EQ(wave->format.nSamplesPerSec, 44100u);
        }
    }
}

TEST(NoisePlayer, LoopsTheWholeResourceUntilStopped) {
    VirtualWaveDevice device;
    NoisePlayer player(device);
    EXPECT_FALSE(player.PlayWaveResource("NoSuchSound"));
    EXPECT_TRUE(device.calls().empty());

    ASSERT_TRUE(player.PlayWaveResource("whitenoise"));
    EXPECT_TRUE(player.playing());
    EXPECT_EQ(device.format().nChannels, 1);
    const std::size_t frames = 524288;
    EXPECT_EQ(device.Advance(2 * frames + 10), 2 * frames + 10);  // round and round
    const std::optional<WaveData> wave = ReadWave(FindWaveResource("WhiteNoise"));
    const auto* first = reinterpret_cast<const std::int16_t*>(wave->samples.data());
    EXPECT_TRUE(std::equal(first, first + frames, device.played().begin() + frames));
    EXPECT_TRUE(std::equal(first, first + 10, device.played().begin() + 2 * frames));

    const std::size_t before = device.calls().size();
    player.Stop();
    // Each once, on the open handle: the header is unprepared before the
    // close, which a closed device would refuse.
    EXPECT_EQ(std::vector<std::string>(device.calls().begin() + static_cast<std::ptrdiff_t>(before), device.calls().end()),
              (std::vector<std::string>{"reset", "unprepare", "close"}));
    EXPECT_FALSE(device.is_open());
    EXPECT_FALSE(player.playing());
    player.Stop();  // nothing plays: nothing happens
    EXPECT_TRUE(player.PlayWaveResource("WhiteNoise"));
    EXPECT_TRUE(device.is_open());
}

// Only a close that no Stop asked for is a loss, reported once; a close that
// arrives after the player moved on (stopped, or playing anew) is not.
TEST(NoisePlayer, ALostStreamIsReportedOnceAndTheNextPlayOpensAfresh) {
    const struct {
        const char* name;
        std::function<void(NoisePlayer&, VirtualWaveDevice&)> steps;  // the close is delivered after them
        int losses;
        bool playing;
    } cases[] = {
        {"the server goes while it plays", [](NoisePlayer&, VirtualWaveDevice& d) { d.LoseDevice(); }, 1, false},
        {"the output goes while it plays",
         [](NoisePlayer&, VirtualWaveDevice& d) { d.LoseDevice(LossCause::DeviceGone); }, 1, false},
        {"stopped by the user", [](NoisePlayer& p, VirtualWaveDevice&) { p.Stop(); }, 0, false},
        {"stopped before the loss's close arrives",
         [](NoisePlayer& p, VirtualWaveDevice& d) {
             d.LoseDevice();
             p.Stop();
         },
         0, false},
        {"played anew before the loss's close arrives",
         [](NoisePlayer& p, VirtualWaveDevice& d) {
             d.LoseDevice();
             EXPECT_TRUE(p.PlayWaveResource("WhiteNoise"));
         },
         0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualWaveDevice device;
        NoisePlayer player(device);
        int losses = 0;
        player.SetLostHandler([&](LossCause) {
            ++losses;
            EXPECT_FALSE(player.playing());
        });
        ASSERT_TRUE(player.PlayWaveResource("WhiteNoise"));
        c.steps(player, device);
        QCoreApplication::sendPostedEvents();
        EXPECT_EQ(losses, c.losses);
        EXPECT_EQ(player.playing(), c.playing);
        EXPECT_EQ(device.is_open(), c.playing);

        // Whatever happened, the next play sounds.
        ASSERT_TRUE(player.PlayWaveResource("WhiteNoise"));
        EXPECT_EQ(device.Advance(100), 100u);
        player.Stop();
        QCoreApplication::sendPostedEvents();
        EXPECT_EQ(losses, c.losses);
    }
}

}  // namespace
}  // namespace quorvex
