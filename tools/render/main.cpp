// SPDX-License-Identifier: GPL-3.0-or-later
// quorvex-render: writes to a WAV file exactly the samples that the wave
// device would be handed for one output, produced by the engine's own code.
//
// Exit status: 0 written (or help shown); 2 bad options or limits the engine
// cannot use (nothing written); 1 the output could not be written.

#include <array>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/generator.h"
#include "engine/ranges.h"
#include "tools/render/output_file.h"

namespace quorvex {
namespace {

static_assert(std::endian::native == std::endian::little, "samples are written as they lie in memory");

constexpr const char* kUsage =
    "Usage: quorvex-render -o FILE [OPTION]...\n"
    "Writes the tone generator's output, the samples the sound device would play,\n"
    "as a 16-bit stereo 44100 Hz WAV file.\n"
    "\n"
    "  -o FILE                 where to write; - is standard output. A link is\n"
    "                          followed, a FIFO or device is written as a stream,\n"
    "                          an existing file is overwritten in place\n"
    "  --speed KIND            fast-smooth (default), fast-stepped, slow, manual,\n"
    "                          no-sweep\n"
    "  --mode MODE             log (default) or linear\n"
    "  --range RANGE           wide (default, 20..20000 Hz), hf (1000..15000 Hz),\n"
    "                          speech (300..3000 Hz), lf (50..1000 Hz)\n"
    "  --from TEXT, --to TEXT  the range's limits, read as the window's limit\n"
    "                          fields read them (not a number: 150 and 300 Hz)\n"
    "  --left-level P          left level 0..26 steps down (default 12)\n"
    "  --right-level P         right level 0..26 steps down (default 12)\n"
    "  --step D                size of a level step, 1..30 (default 20)\n"
    "  --channels HOW          in-phase (default), 180 or independent\n"
    "  --left-off, --right-off silence a channel\n"
    "  --markers               half-octave markers in a slow sweep\n"
    "  --left-bar P            manual left frequency bar 1..180 (default 180,\n"
    "                          the lower limit)\n"
    "  --right-bar P           manual right frequency bar 1..180 (default 180)\n"
    "  --passes N              fast kinds: passes of the looping buffer (default 1)\n"
    "  --chunks N              streamed kinds: chunks of 250 ms (default 40; a slow\n"
    "                          sweep ends by itself after 180)\n"
    "  -h, --help              show this help and exit\n"
    "  --version               show the version and exit\n"
    "\n"
    "Exit status: 0 written, 1 the output could not be written, 2 bad options.\n"
    "\n"
    "Example: quorvex-render -o - --speed slow | paplay\n";

// WAV data sizes are 32-bit; a pass is at most one buffer, a chunk 250 ms.
constexpr std::uint64_t kMaxDataBytes = 0xFFFFFFFFu - 36;
constexpr int kMaxPasses = static_cast<int>(kMaxDataBytes / sizeof(TBuffer));
constexpr int kMaxChunks = static_cast<int>(kMaxDataBytes / (kSampleRate / 4 * 4));  // 11025 frames of 4 bytes
// The data size of a stream whose length is not known: RIFF's size field
// then holds its largest value too.
constexpr std::uint32_t kStreamDataBytes = 0xFFFFFFFFu - 36;

struct Settings {
    std::string out;
    speeds speed = speeds::fast_smooth;
    modes mode = modes::logarithmic;
    ranges range = ranges::wide;
    std::optional<std::string> from;
    std::optional<std::string> to;
    int left_level = 12;
    int right_level = 12;
    int step = 20;
    out_levels channels = out_levels::phase_normal;
    bool left_off = false;
    bool right_off = false;
    bool markers = false;
    int left_bar = 180;
    int right_bar = 180;
    std::optional<int> passes;
    std::optional<int> chunks;
    bool help = false;     // --help: the usage only
    bool version = false;  // --version: the version only
};

struct UsageError {
    std::string message;
};

template <typename T>
T Choose(std::string_view option, std::string_view value, std::initializer_list<std::pair<std::string_view, T>> choices) {
    for (const auto& [name, v] : choices)
        if (name == value) return v;
    // Appended piece by piece: GCC 12 at -O3 mistakes chained std::string
    // concatenation for an overlapping copy (-Wrestrict).
    std::string message = "invalid value '";
    message.append(value).append("' for ").append(option).append(" (one of:");
    for (const auto& choice : choices) message.append(" ").append(choice.first);
    message.append(")");
    throw UsageError{message};
}

int WholeNumber(std::string_view option, std::string_view value, int low, int high) {
    const std::optional<std::int32_t> n = ParseInteger(value);
    if (!n || *n < low || *n > high)
        throw UsageError{"invalid value '" + std::string(value) + "' for " + std::string(option) + " (a whole number " +
                         std::to_string(low) + ".." + std::to_string(high) + ")"};
    return *n;
}

Settings ParseArguments(int argc, char** argv) {
    Settings s;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        auto value = [&]() -> std::string_view {
            if (i + 1 >= argc) throw UsageError{std::string(option) + " needs a value"};
            return argv[++i];
        };
        if (option == "-h" || option == "--help") {
            s.help = true;
            return s;
        }
        if (option == "--version") {
            s.version = true;
            return s;
        }
        if (option == "-o") s.out = value();
        else if (option == "--speed")
            s.speed = Choose<speeds>(option, value(), {{"fast-smooth", speeds::fast_smooth}, {"fast-stepped", speeds::fast_stepped},
                                                       {"slow", speeds::slow}, {"manual", speeds::manual},
                                                       {"no-sweep", speeds::no_sweep}});
        else if (option == "--mode")
            s.mode = Choose<modes>(option, value(), {{"log", modes::logarithmic}, {"linear", modes::linear}});
        else if (option == "--range")
            s.range = Choose<ranges>(option, value(),
                                     {{"wide", ranges::wide}, {"hf", ranges::hf}, {"speech", ranges::mf}, {"lf", ranges::lf}});
        else if (option == "--from") s.from = value();
        else if (option == "--to") s.to = value();
        else if (option == "--left-level") s.left_level = WholeNumber(option, value(), 0, 26);
        else if (option == "--right-level") s.right_level = WholeNumber(option, value(), 0, 26);
        else if (option == "--step") s.step = WholeNumber(option, value(), 1, 30);
        else if (option == "--channels")
            s.channels = Choose<out_levels>(option, value(), {{"in-phase", out_levels::phase_normal}, {"180", out_levels::phase_reverse},
                                                              {"independent", out_levels::independent}});
        else if (option == "--left-off") s.left_off = true;
        else if (option == "--right-off") s.right_off = true;
        else if (option == "--markers") s.markers = true;
        else if (option == "--left-bar") s.left_bar = WholeNumber(option, value(), 1, 180);
        else if (option == "--right-bar") s.right_bar = WholeNumber(option, value(), 1, 180);
        else if (option == "--passes") s.passes = WholeNumber(option, value(), 1, kMaxPasses);
        else if (option == "--chunks") s.chunks = WholeNumber(option, value(), 1, kMaxChunks);
        else throw UsageError{"unknown option '" + std::string(option) + "'"};
    }
    if (s.out.empty()) throw UsageError{"no output file given (-o FILE, or -o - for standard output)"};
    return s;
}

// The control panel as far as the engine sees it: the manual bars stand
// where the options put them. It owns the generator state, which takes the
// panel at construction, so nothing is wired up afterwards.
class RenderPanel final : public ControlPanel {
public:
    explicit RenderPanel(const Settings& s) : settings_(s) {}

    GeneratorState& state() { return state_; }

    void SetLastMarkerText(const std::string&) override {}
    // Each bar maps on its own: the options set them independently.
    ChannelFrequencies ManualFrequencies() override {
        return {BarFrequency(state_.f_min, state_.f_max, state_.log_lin, 180, 1, settings_.left_bar),
                BarFrequency(state_.f_min, state_.f_max, state_.log_lin, 180, 1, settings_.right_bar)};
    }
    int LowPowerPosition() const override { return settings_.step; }

private:
    const Settings& settings_;
    GeneratorState state_{*this};
};

// The device as far as the engine sees it: every buffer handed over is
// appended to the output, a looping one as often as the device would repeat
// it, until the requested amount has been written.
class FileSink final : public WaveOutSink {
public:
    FileSink(std::FILE* out, int max_writes, std::uint32_t loops) : out_(out), max_writes_(max_writes), loops_(loops) {}

    void waveOutPrepareHeader(WAVEHDR&) override {}
    void waveOutWrite(WAVEHDR& header) override {
        if (writes_ >= max_writes_) return;
        ++writes_;
        const std::uint32_t repeats = (header.dwFlags & WHDR_BEGINLOOP) ? loops_ : 1;
        for (std::uint32_t i = 0; i < repeats && ok_; ++i)
            ok_ = std::fwrite(header.lpData, 1, header.dwBufferLength, out_) == header.dwBufferLength;
        bytes_ += std::uint64_t{header.dwBufferLength} * repeats;
    }

    bool full() const { return writes_ >= max_writes_; }
    std::uint64_t bytes() const { return bytes_; }
    bool ok() const { return ok_; }

private:
    std::FILE* out_;
    int max_writes_;      // buffers beyond this count are not recorded
    std::uint32_t loops_;  // plays of a looping header
    int writes_ = 0;
    std::uint64_t bytes_ = 0;
    bool ok_ = true;
};

void PutLe(std::vector<unsigned char>& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// The standard 44-byte header of a PCM WAV file.
std::vector<unsigned char> WavHeader(const WAVEFORMATEX& pcm, std::uint32_t data_bytes) {
    std::vector<unsigned char> h;
    auto tag = [&](const char* t) { h.insert(h.end(), t, t + 4); };
    tag("RIFF");
    PutLe(h, 36 + data_bytes, 4);
    tag("WAVE");
    tag("fmt ");
    PutLe(h, 16, 4);
    PutLe(h, pcm.wFormatTag, 2);
    PutLe(h, pcm.nChannels, 2);
    PutLe(h, pcm.nSamplesPerSec, 4);
    PutLe(h, pcm.nAvgBytesPerSec, 4);
    PutLe(h, pcm.nBlockAlign, 2);
    PutLe(h, pcm.wBitsPerSample, 2);
    tag("data");
    PutLe(h, data_bytes, 4);
    return h;
}

// Buffers the sink takes: the passes of the looping buffer count as one.
int MaxWrites(const GeneratorState& state, const Settings& s) {
    if (IsLooping(state.speed)) return 1;
    return s.chunks.value_or(state.speed == speeds::slow ? state.slow_sweep_chunks : 40);
}

// Plays the output into the sink: the device's start, then what its done
// notifications do until the requested amount has been handed over. The
// device returns the headers in the order it was handed them. False when the
// engine refused to start.
bool Play(GeneratorState& state, FileSink& sink) {
    if (!state.QueueFirstBuffers(sink)) return false;
    if (IsLooping(state.speed)) return true;
    for (WAVEHDR* returned = state.p_wave_hdr1;
         !sink.full() && state.HeaderDone(*returned, sink) != GeneratorState::HeaderReturn::AllPlayed;
         returned = returned == state.p_wave_hdr1 ? state.p_wave_hdr2 : state.p_wave_hdr1) {
    }
    return true;
}

int Fail(int status, const std::string& message) {
    std::fprintf(stderr, "quorvex-render: %s\n", message.c_str());
    return status;
}

int Run(int argc, char** argv) {
    Settings s;
    try {
        s = ParseArguments(argc, argv);
    } catch (const UsageError& e) {
        Fail(2, e.message);
        std::fprintf(stderr, "Try 'quorvex-render --help' for the options.\n");
        return 2;
    }
    if (s.help) {
        std::fputs(kUsage, stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (s.version) {
        std::printf("quorvex-render %s\n", QUORVEX_VERSION);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    std::int32_t f_min = RangeOf(s.range).f_min;
    std::int32_t f_max = RangeOf(s.range).f_max;
    if (s.from) f_min = LowerLimitFromText(*s.from);
    if (s.to) f_max = UpperLimitFromText(*s.to);
    if (!LimitsUsable(f_min, f_max))
        return Fail(2, "cannot render with the limits " + std::to_string(f_min) + " Hz and " + std::to_string(f_max) +
                           " Hz: both must be above 0 Hz");

    const std::string target_name = s.out == "-" ? "standard output" : "'" + s.out + "'";
    std::string error;  // empty while everything goes well
    const std::unique_ptr<OutputFile> target = OutputFile::Open(s.out, error);
    if (!target) return Fail(1, "cannot write " + target_name + ": " + error);
    std::FILE* out = target->stream();

    RenderPanel panel(s);
    GeneratorState& state = panel.state();
    if (!state.HasMemory()) {
        error = "out of memory";
    } else {
        state.speed = s.speed;
        state.log_lin = s.mode;
        state.range = s.range;
        state.f_min = f_min;
        state.f_max = f_max;
        state.do_markers = s.markers;
        state.out_level = s.channels;
        state.left_amplitude = s.left_off ? 0 : state.LevelToAmplitude(s.left_level);
        state.right_amplitude = s.right_off ? 0 : state.LevelToAmplitude(s.right_level);
        FileSink sink(out, MaxWrites(state, s), static_cast<std::uint32_t>(s.passes.value_or(1)));
        // A file's sizes are filled in at the end. A stream cannot be gone
        // back to: it carries the largest sizes, the convention for a WAV
        // stream of unknown length, and readers take the data to its end.
        const std::vector<unsigned char> placeholder = WavHeader(state.pcm, target->seekable() ? 0 : kStreamDataBytes);
        bool started = true;
        if (std::fwrite(placeholder.data(), 1, placeholder.size(), out) == placeholder.size())
            started = Play(state, sink);
        if (!started) {
            error = "the engine could not prepare this output";
        } else if (!sink.ok() || std::ferror(out)) {
            error = std::strerror(errno);
        } else if (sink.bytes() > kMaxDataBytes) {
            error = "more than 4 GiB of samples";
        } else if (target->seekable()) {
            const std::vector<unsigned char> header = WavHeader(state.pcm, static_cast<std::uint32_t>(sink.bytes()));
            if (!target->Rewrite(header.data(), header.size())) error = std::strerror(errno);
        }
    }
    if (error.empty()) target->Commit(error);
    if (error.empty()) return 0;
    return Fail(1, "cannot write " + target_name + ": " + error);
}

}  // namespace
}  // namespace quorvex

int main(int argc, char** argv) { return quorvex::Run(argc, argv); }
