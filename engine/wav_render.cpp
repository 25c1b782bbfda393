// SPDX-License-Identifier: GPL-3.0-or-later
// Rendering one output as a WAV stream into a byte sink.

#include "engine/wav_render.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <utility>

namespace quorvex {
namespace {

static_assert(std::endian::native == std::endian::little, "samples are passed on as they lie in memory");

// Chunks a streamed kind renders when no length is asked for: 10 s.
constexpr int kDefaultChunks = 40;

// The control panel as far as the engine sees it: the manual bars stand
// where the settings put them, and the marker label is nobody's. It owns the generator state, which takes the panel at
// construction, so nothing is wired up afterwards.
class SettingsPanel final : public ControlPanel {
public:
    explicit SettingsPanel(const OutputSettings& s) : settings_(s) {}

    GeneratorState& state() { return state_; }

    void SetLastMarkerText(const std::string&) override {}
    ChannelFrequencies ManualFrequencies() override { return ManualChannelFrequencies(settings_); }
    int LowPowerPosition() const override { return settings_.step; }

private:
    const OutputSettings& settings_;
    GeneratorState state_{*this};
};

// The device as far as the engine sees it: every buffer handed over goes to
// the byte sink, a looping one as often as the device would repeat it, until
// the asked length has been passed on. The WAV header goes first, with the
// first buffer: a start the engine refuses passes on nothing.
class DeviceStandIn final : public WaveOutSink {
public:
    // `default_chunks`: the streamed hand-overs passed on when no length is asked for.
    DeviceStandIn(const ByteSink& out, const OutputLength& length, int default_chunks, std::vector<unsigned char> header)
        : out_(out), length_(length), default_chunks_(default_chunks), header_(std::move(header)) {}

    void waveOutPrepareHeader(WAVEHDR&) override {}
    void waveOutWrite(WAVEHDR& header) override {
        if (full() || header.dwBufferLength == 0) return;
        if (!header_.empty()) {
            ok_ = out_(header_.data(), header_.size());
            header_.clear();
            if (!ok_) return;
        }
        ++writes_;
        std::uint64_t repeats = 1;
        if (header.dwFlags & WHDR_BEGINLOOP) {
            max_writes_ = 1;  // the passes of the looping buffer are one hand-over
            repeats = length_.passes    ? static_cast<std::uint64_t>(*length_.passes)
                      : length_.seconds ? Covering(header)
                                        : 1;
        } else if (!max_writes_) {
            max_writes_ = length_.chunks    ? *length_.chunks
                          : length_.seconds ? static_cast<int>(Covering(header))
                                            : default_chunks_;
        }
        for (std::uint64_t i = 0; i < repeats && ok_; ++i) {
            ok_ = out_(header.lpData, header.dwBufferLength);
            if (ok_) bytes_ += header.dwBufferLength;
        }
    }

    // Nothing more is wanted: the asked length is written, or the sink failed.
    bool full() const { return !ok_ || (max_writes_ && writes_ >= *max_writes_); }
    std::uint64_t bytes() const { return bytes_; }
    bool ok() const { return ok_; }

private:
    // Buffers like `header` that cover length_.seconds.
    std::uint64_t Covering(const WAVEHDR& header) const {
        const std::uint64_t wanted = std::uint64_t{static_cast<unsigned>(*length_.seconds)} * kSampleRate * 4;
        return (wanted + header.dwBufferLength - 1) / header.dwBufferLength;
    }

    const ByteSink& out_;
    const OutputLength& length_;
    int default_chunks_;
    std::vector<unsigned char> header_;  // until it has been passed on
    std::optional<int> max_writes_;  // hand-overs passed on; known from the first
    int writes_ = 0;
    std::uint64_t bytes_ = 0;
    bool ok_ = true;
};

// The standard 44-byte header of a PCM WAV file, little-endian.
std::vector<unsigned char> WavHeader(const WAVEFORMATEX& pcm, std::uint32_t data_bytes) {
    std::array<unsigned char, 44> h{};
    std::size_t at = 0;
    const auto put = [&](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) h[at++] = static_cast<unsigned char>(v >> (8 * i));
    };
    const auto tag = [&](const char (&t)[5]) {
        for (int i = 0; i < 4; ++i) h[at++] = static_cast<unsigned char>(t[i]);
    };
    tag("RIFF");
    put(36 + data_bytes, 4);
    tag("WAVE");
    tag("fmt ");
    put(16, 4);
    put(pcm.wFormatTag, 2);
    put(pcm.nChannels, 2);
    put(pcm.nSamplesPerSec, 4);
    put(pcm.nAvgBytesPerSec, 4);
    put(pcm.nBlockAlign, 2);
    put(pcm.wBitsPerSample, 2);
    tag("data");
    put(data_bytes, 4);
    return {h.begin(), h.end()};
}

}  // namespace

ChannelFrequencies ManualChannelFrequencies(const OutputSettings& s) {
    return {BarFrequency(s.f_min, s.f_max, s.mode, 180, 1, s.left_bar) + s.left_offset,
            BarFrequency(s.f_min, s.f_max, s.mode, 180, 1, s.right_bar)};
}

RenderResult RenderWav(const OutputSettings& settings, const OutputLength& length, std::uint32_t announced_bytes,
                       const ByteSink& sink) {
    SettingsPanel panel(settings);
    GeneratorState& state = panel.state();
    if (!state.HasMemory()) return {RenderResult::Status::no_memory, 0, {}};
    state.speed = settings.speed;
    state.log_lin = settings.mode;
    state.range = settings.range;
    state.f_min = settings.f_min;
    state.f_max = settings.f_max;
    state.do_markers = settings.markers;
    state.out_level = settings.channels;
    state.left_amplitude = settings.left_off ? 0 : state.LevelToAmplitude(settings.left_level);
    state.right_amplitude = settings.right_off ? 0 : state.LevelToAmplitude(settings.right_level);

    // The device's start, then what its done notifications do until the
    // asked length has been handed over. The device returns the headers in
    // the order it was handed them.
    const int default_chunks = state.speed == speeds::slow ? state.slow_sweep_chunks : kDefaultChunks;
    DeviceStandIn device(sink, length, default_chunks, WavHeader(state.pcm, std::min(announced_bytes, kMaxWavDataBytes)));
    if (!state.QueueFirstBuffers(device)) return {RenderResult::Status::cannot_prepare, 0, {}};
    if (!IsLooping(state.speed)) {
        for (WAVEHDR* returned = state.p_wave_hdr1;
             !device.full() && state.HeaderDone(*returned, device) != GeneratorState::HeaderReturn::AllPlayed;
             returned = returned == state.p_wave_hdr1 ? state.p_wave_hdr2 : state.p_wave_hdr1) {
        }
    }
    const auto announced = static_cast<std::uint32_t>(std::min<std::uint64_t>(device.bytes(), kMaxWavDataBytes));
    return {device.ok() ? RenderResult::Status::written : RenderResult::Status::sink_failed, device.bytes(),
            WavHeader(state.pcm, announced)};
}

}  // namespace quorvex
