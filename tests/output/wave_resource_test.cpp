// The embedded WhiteNoise resource and the wave reading behind the player.

#include "output/wave_resource.h"

#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include <vector>

#include "output/noise_player.h"
#include "output/virtual_wave_device.h"

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

TEST(WaveResource, ReadWaveRefusesWhatIsNotAWholePcmWaveFile) {
    const std::string fmt = std::string("fmt \x10\0\0\0\x01\0\x01\0\x44\xAC\0\0\x88\x58\x01\0\x02\0\x10\0", 24);
    const std::string good = std::string("RIFF\0\0\0\0WAVE", 12) + fmt + std::string("data\x04\0\0\0\x01\x02\x03\x04", 12);
    ASSERT_TRUE(ReadWave(Bytes(good)));
    EXPECT_EQ(ReadWave(Bytes(good))->samples.size(), 4u);

    const std::string cases[] = {
        "",
        std::string("RIFX") + good.substr(4),
        good.substr(0, good.size() - 1),  // data chunk longer than the file
        std::string("RIFF\0\0\0\0WAVE", 12) + std::string("data\x04\0\0\0\x01\x02\x03\x04", 12),  // no format
        good.substr(0, 20) + std::string("\x03\0", 2) + good.substr(22),                        // not PCM
    };
    for (const std::string& bytes : cases) {
        EXPECT_FALSE(ReadWave(Bytes(bytes))) << bytes.size() << " bytes";
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

    player.Stop();
    EXPECT_FALSE(device.is_open());
    EXPECT_FALSE(player.playing());
    player.Stop();  // nothing plays: nothing happens
    EXPECT_TRUE(player.PlayWaveResource("WhiteNoise"));
    EXPECT_TRUE(device.is_open());
}

}  // namespace
}  // namespace quorvex
