// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One output rendered from its settings as a WAV stream, away from any
// device: a generator state of its own, started and refilled by the same
// protocol as playback (QueueFirstBuffers, HeaderDone), its buffers passed on
// as the device would play them. quorvex-render and the window's Save as WAV
// both make their files here.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "engine/generator.h"

namespace quorvex {

// What Start reads for one output, as the window's controls or the render
// tool's options give it.
struct OutputSettings {
    speeds speed = speeds::fast_smooth;
    modes mode = modes::logarithmic;
    ranges range = ranges::wide;
    std::int32_t f_min = 20;  // Hz, as read from the limit edits
    std::int32_t f_max = 20000;
    int left_level = 12;  // steps below full scale, 0..26
    int right_level = 12;
    int step = 20;  // the attenuation bar: a level step is 20/step dB
    out_levels channels = out_levels::phase_normal;
    bool left_off = false;
    bool right_off = false;
    bool markers = false;
    // Manual kind: positions of the frequency bars, 1 (upper limit) to 180
    // (lower limit), each mapped on its own, and the offset in Hz that a
    // chirp adds to the left channel.
    int left_bar = 180;
    int right_bar = 180;
    extended left_offset = 0;
};

// The manual kind's frequencies for `settings`: each bar mapped between the
// limits on its own (BarFrequency of 180 positions), the left one with its
// offset.
ChannelFrequencies ManualChannelFrequencies(const OutputSettings& settings);

// How much of an output to render; at most one member is set. None: one
// pass of a fast kind, 40 chunks (10 s) of manual or no-sweep output, the
// whole slow sweep. `passes` counts the fast kinds' 1.3 s passes, `chunks`
// the other kinds' 250 ms chunks; `seconds` asks for as many whole passes
// or chunks as cover that time. A slow sweep ends after its 180th chunk
// whatever is asked.
struct OutputLength {
    std::optional<int> passes;
    std::optional<int> chunks;
    std::optional<int> seconds;
};

// Takes the rendered bytes in order; false when they could not be taken,
// which ends the rendering.
using ByteSink = std::function<bool(const void* data, std::size_t size)>;

// The most sample bytes a WAV header can announce: its sizes are 32-bit.
inline constexpr std::uint32_t kMaxWavDataBytes = 0xFFFFFFFFu - 36;

struct RenderResult {
    enum class Status {
        written,         // every byte went to the sink
        no_memory,       // the generator's buffers or tables could not be obtained
        cannot_prepare,  // the engine refused these settings (limits not LimitsUsable)
        sink_failed,     // the sink refused bytes; what it took is a partial output
    };
    Status status = Status::written;
    std::uint64_t data_bytes = 0;  // sample bytes the sink took
    // The standard 44-byte PCM header announcing data_bytes (at most
    // kMaxWavDataBytes), for a caller that goes back to the header written
    // first. Empty when nothing was rendered.
    std::vector<unsigned char> header;
};

// Passes to `sink` the WAV header of the output format, announcing
// `announced_bytes` of samples, then the samples of `settings` from phases
// 0, exactly as the device would be handed them after a start: a fast
// kind's pass repeated, the streamed kinds chunk after chunk. Touches no
// state but its own. Nothing reaches the sink when the status is no_memory
// or cannot_prepare.
RenderResult RenderWav(const OutputSettings& settings, const OutputLength& length, std::uint32_t announced_bytes,
                       const ByteSink& sink);

}  // namespace quorvex
