// SPDX-License-Identifier: GPL-3.0-or-later
// Checks a recording of the program's output (raw s16le stereo, 44100 Hz) for
// the end-to-end test:
//   sweep_check fast FILE  the fast smooth sweep at level 12: every pass is
//                          57319 frames long and opens with 333 x 43 silent
//                          frames; the peak is Round(0.251189 x 32767); both
//                          channels carry the same samples.
//   sweep_check slow FILE  the start of a slow sweep: sound in the low tens of
//                          Hz, as the sweep's first seconds play.
//   sweep_check render FILE WAV
//                          the whole recording against quorvex-render's
//                          output for the same settings, frame by frame
//                          (for bench/ui/stall-window.sh).
// Prints what it found; exits 0 when the recording passes, 1 otherwise; a
// render comparison exits 3 when the server only inserted silence.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "tests/output/pulse_recording.h"

namespace {

constexpr int kRate = 44100;
constexpr long kPassFrames = 57319;
constexpr long kSilentFrames = 333L * 43;
// Gaps inside the sound (a sine through zero) are a few frames at most; the
// silence that opens a pass is thousands.
constexpr long kMinGap = 1000;

struct Frame {
    std::int16_t left, right;
};

std::vector<Frame> Read(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<Frame> frames(bytes.size() / sizeof(Frame));
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + i * 4);
        frames[i].left = static_cast<std::int16_t>(p[0] | (p[1] << 8));
        frames[i].right = static_cast<std::int16_t>(p[2] | (p[3] << 8));
    }
    return frames;
}

bool Silent(const Frame& f) { return f.left == 0 && f.right == 0; }

int Fail(const char* what) {
    std::printf("FAIL: %s\n", what);
    return 1;
}

int CheckFast(const std::vector<Frame>& frames) {
    // Onsets: the first sounding frame after a silent run of kMinGap or more.
    std::vector<long> onsets;
    std::vector<long> gaps;
    long run = kMinGap;  // the recording opens in silence
    int peak = 0;
    bool channels_equal = true;
    for (long i = 0; i < static_cast<long>(frames.size()); ++i) {
        const Frame& f = frames[static_cast<std::size_t>(i)];
        if (Silent(f)) {
            ++run;
            continue;
        }
        if (run >= kMinGap) {
            onsets.push_back(i);
            gaps.push_back(run);
        }
        run = 0;
        peak = std::max({peak, std::abs(static_cast<int>(f.left)), std::abs(static_cast<int>(f.right))});
        channels_equal = channels_equal && f.left == f.right;
    }
    std::printf("frames %zu, passes started %zu, peak %d\n", frames.size(), onsets.size(), peak);
    if (onsets.size() < 3) return Fail("fewer than three passes recorded");

    const int expected_peak = static_cast<int>(std::lround(0.251189 * 32767));
    for (std::size_t k = 1; k < onsets.size(); ++k) {
        const long period = onsets[k] - onsets[k - 1];
        // The first sample of a pass is sin(0) = 0, and the next may round to
        // 0 too: the onset can lie a frame or two past the silence.
        std::printf("pass %zu: period %ld, silence before it %ld\n", k, period, gaps[k]);
        if (period != kPassFrames) return Fail("pass length is not 57319 frames");
        if (gaps[k] < kSilentFrames || gaps[k] > kSilentFrames + 4) return Fail("silence is not 333 x 43 frames");
    }
    if (peak != expected_peak) return Fail("peak is not the level-12 amplitude");
    if (!channels_equal) return Fail("channels differ although in phase");
    std::printf("OK: fast smooth sweep, period %ld, silence %ld, peak %d\n", kPassFrames, kSilentFrames, peak);
    return 0;
}

// The samples of a 16-bit WAV file's data chunk, interleaved.
std::vector<std::int16_t> ReadWavSamples(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto u32 = [&](std::size_t at) {
        return static_cast<std::size_t>(bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
                                        (static_cast<std::uint32_t>(bytes[at + 3]) << 24));
    };
    std::vector<std::int16_t> samples;
    for (std::size_t at = 12; at + 8 <= bytes.size(); at += 8 + u32(at + 4)) {
        if (std::string_view(reinterpret_cast<const char*>(bytes.data() + at), 4) != "data") continue;
        const std::size_t end = std::min(bytes.size(), at + 8 + u32(at + 4));
        for (std::size_t i = at + 8; i + 1 < end; i += 2) {
            samples.push_back(static_cast<std::int16_t>(bytes[i] | (bytes[i + 1] << 8)));
        }
        break;
    }
    return samples;
}

int CheckRender(const std::vector<Frame>& frames, const char* wav) {
    const std::vector<std::int16_t> render = ReadWavSamples(wav);
    if (render.empty()) return Fail("no samples in the render");
    std::vector<std::int16_t> recording;
    recording.reserve(2 * frames.size());
    for (const Frame& f : frames) {
        recording.push_back(f.left);
        recording.push_back(f.right);
    }
    const auto check = quorvex::testing_support::CompareWithRender(recording, render);
    if (!check.found) return Fail("the render's opening is not in the recording");
    std::printf("render %zu frames: matched %zu, inserted silence %zu frames in %zu gaps, differing %zu, "
                "dropped %zu, missing at the end %zu",
                render.size() / 2, check.matched, check.inserted, check.gaps, check.differing, check.dropped,
                check.missing);
    if (!check.exact()) std::printf(", first fault at render frame %zu", check.first_fault);
    std::printf("\n");
    if (check.exact()) return std::printf("OK: sample-exact\n"), 0;
    if (check.differing == 0 && check.dropped == 0 && check.missing == 0) {
        return std::printf("OK: every frame played, with inserted silence\n"), 3;
    }
    return Fail("frames lost or changed");
}

int CheckSlow(const std::vector<Frame>& frames) {
    long sounding = 0;
    long crossings = 0;
    long first = -1;
    long last = -1;
    int previous_sign = 0;
    for (long i = 0; i < static_cast<long>(frames.size()); ++i) {
        const int v = frames[static_cast<std::size_t>(i)].left;
        if (v == 0) continue;
        ++sounding;
        if (first < 0) first = i;
        last = i;
        const int sign = v > 0 ? 1 : -1;
        if (previous_sign < 0 && sign > 0) ++crossings;
        previous_sign = sign;
    }
    if (sounding < kRate) return Fail("less than a second of sound");
    const double seconds = static_cast<double>(last - first) / kRate;
    const double hz = crossings / seconds;
    std::printf("sounding %.2f s, about %.1f Hz\n", static_cast<double>(sounding) / kRate, hz);
    if (hz < 15 || hz > 60) return Fail("not the first seconds of a slow sweep from 20 Hz");
    std::printf("OK: slow sweep under way\n");
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    const std::string kind = argc > 1 ? argv[1] : "";
    if (argc != (kind == "render" ? 4 : 3)) {
        std::fprintf(stderr, "usage: %s fast|slow FILE\n       %s render FILE WAV\n", argv[0], argv[0]);
        return 2;
    }
    const std::vector<Frame> frames = Read(argv[2]);
    if (kind == "fast") return CheckFast(frames);
    if (kind == "slow") return CheckSlow(frames);
    if (kind == "render") return CheckRender(frames, argv[3]);
    std::fprintf(stderr, "unknown kind %s\n", argv[1]);
    return 2;
}
