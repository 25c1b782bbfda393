// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/wave_resource.h"

#include <algorithm>
#include <cstdint>

// The WhiteNoise file is generated at build time and assembled in as it is.
asm(".pushsection .rodata\n"
    ".balign 16\n"
    "quorvex_white_noise_begin:\n"
    ".incbin \"" QUORVEX_WHITE_NOISE_FILE "\"\n"
    "quorvex_white_noise_end:\n"
    ".popsection\n"
    ".pushsection .data.rel.ro\n"
    ".balign 8\n"
    ".globl quorvex_white_noise_bounds\n"
    "quorvex_white_noise_bounds:\n"
    ".quad quorvex_white_noise_begin\n"
    ".quad quorvex_white_noise_end\n"
    ".popsection\n");

extern "C" const std::byte* const quorvex_white_noise_bounds[2];

namespace quorvex {

namespace {

struct Resource {
    std::string_view name;
    std::span<const std::byte> bytes;
};

// Resource names are the program's own ASCII words, so case is ASCII case:
// the C library's toupper follows the user's locale, and in Turkish the
// upper case of 'i' is not 'I'.
constexpr char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) { return AsciiUpper(x) == AsciiUpper(y); });
}

std::uint32_t Read(std::span<const std::byte> bytes, std::size_t at, int width) {
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
        value = (value << 8) | std::to_integer<std::uint32_t>(bytes[at + static_cast<std::size_t>(i)]);
    }
    return value;
}

bool IdIs(std::span<const std::byte> bytes, std::size_t at, std::string_view id) {
    return std::ranges::equal(bytes.subspan(at, 4), id, [](std::byte b, char c) { return b == std::byte(c); });
}

}  // namespace

std::span<const std::byte> FindWaveResource(std::string_view name) {
    const Resource resources[] = {
        {"WHITENOISE", {quorvex_white_noise_bounds[0], quorvex_white_noise_bounds[1]}},
    };
    for (const Resource& resource : resources) {
        if (SameIgnoringCase(name, resource.name)) return resource.bytes;
    }
    return {};
}

std::optional<WaveData> ReadWave(std::span<const std::byte> file) {
    if (file.size() < 12 || !IdIs(file, 0, "RIFF") || !IdIs(file, 8, "WAVE")) return std::nullopt;
    std::optional<WAVEFORMATEX> format;
    std::size_t at = 12;
    // Every read below stays inside `file`: a chunk header needs 8 bytes
    // left, a body no more than what follows it, and the pad byte after an
    // odd-sized body may be missing at the very end.
    while (file.size() - at >= 8) {
        const std::size_t size = Read(file, at + 4, 4);
        const std::size_t body = at + 8;
        if (size > file.size() - body) return std::nullopt;
        if (IdIs(file, at, "fmt ")) {
            if (size < 16) return std::nullopt;
            WAVEFORMATEX f;
            f.wFormatTag = static_cast<std::uint16_t>(Read(file, body, 2));
            f.nChannels = static_cast<std::uint16_t>(Read(file, body + 2, 2));
            f.nSamplesPerSec = Read(file, body + 4, 4);
            f.nAvgBytesPerSec = Read(file, body + 8, 4);
            f.nBlockAlign = static_cast<std::uint16_t>(Read(file, body + 12, 2));
            f.wBitsPerSample = static_cast<std::uint16_t>(Read(file, body + 14, 2));
            if (f.wFormatTag != WAVE_FORMAT_PCM) return std::nullopt;
            format = f;
        } else if (IdIs(file, at, "data")) {
            // Sound before its format, or no sound at all, is no wave to play.
            if (!format || size == 0) return std::nullopt;
            return WaveData{*format, file.subspan(body, size)};
        }
        const std::size_t next = size + (size & 1);  // chunks are padded to even length
        if (next >= file.size() - body) break;       // the last chunk, its pad byte perhaps missing
        at = body + next;
    }
    return std::nullopt;
}

}  // namespace quorvex
