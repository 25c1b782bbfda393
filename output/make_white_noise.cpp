// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the WhiteNoise wave resource: a RIFF/WAVE file, PCM mono 44100 Hz
// 16-bit, 524288 independent samples spread evenly over the whole 16-bit
// range. The seed is fixed, so every build embeds the same bytes.
//
// Usage: make_white_noise <output file>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr std::uint32_t kSamples = 524288;
constexpr std::uint32_t kDataBytes = kSamples * 2;
constexpr std::uint64_t kSeed = 0x51A7C0DE5EEDULL;

// SplitMix64: fixed output on every platform, and its high 16 bits are
// uniform and independent from one call to the next.
std::uint64_t Next(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

void Put(std::vector<unsigned char>& out, const char* text) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(text[i]));
}

void Put(std::vector<unsigned char>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output file>\n", argv[0]);
        return 2;
    }
    std::vector<unsigned char> wave;
    wave.reserve(44 + kDataBytes);
    Put(wave, "RIFF");
    Put(wave, 36 + kDataBytes, 4);
    Put(wave, "WAVE");
    Put(wave, "fmt ");
    Put(wave, 16, 4);
    Put(wave, 1, 2);          // PCM
    Put(wave, 1, 2);          // mono
    Put(wave, 44100, 4);      // samples per second
    Put(wave, 44100 * 2, 4);  // bytes per second
    Put(wave, 2, 2);          // block align
    Put(wave, 16, 2);         // bits per sample
    Put(wave, "data");
    Put(wave, kDataBytes, 4);
    std::uint64_t state = kSeed;
    for (std::uint32_t i = 0; i < kSamples; ++i) {
        Put(wave, static_cast<std::uint32_t>(Next(state) >> 48), 2);  // little-endian two's complement
    }

    std::FILE* file = std::fopen(argv[1], "wb");
    if (!file) {
        std::perror(argv[1]);
        return 1;
    }
    const bool ok = std::fwrite(wave.data(), 1, wave.size(), file) == wave.size();
    return std::fclose(file) == 0 && ok ? 0 : 1;
}
