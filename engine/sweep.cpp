// SPDX-License-Identifier: GPL-3.0-or-later
// Fast sweeps rendered in one pass, streamed output planned at the start and
// produced chunk by chunk, the first hand-over of a start and the refill of
// each header the device returns.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "engine/generator.h"

namespace quorvex {

namespace {

// Frames in one streamed chunk of chunk_ms milliseconds.
std::int32_t ChunkFrames(std::int32_t chunk_ms) {
    return static_cast<std::int32_t>(std::int64_t{chunk_ms} * kSampleRate / 1000);
}

PBuffer BufferOf(const WAVEHDR& header) { return reinterpret_cast<PBuffer>(header.lpData); }

}  // namespace

void GeneratorState::PlanSteps(int steps) {
    const extended low = f_min;
    const extended high = f_max;
    f_step = ((high + 0.01L) - low) / (steps - 1);
    f_ratio = expl(logl(high / low) / (steps - 1));
}

extended GeneratorState::StepUp(extended f) const { return log_lin == modes::linear ? f_step + f : f * f_ratio; }

int GeneratorState::RenderFastSweep(PBuffer buffer, int steps) {
    if (steps < 2) return 0;
    PlanSteps(steps);
    const int silent = steps / 3;
    const int block = static_cast<int>(std::clamp(buffer_bytes, 0, kBufferSamples) / ((std::int64_t{steps} + silent) * 2));

    int index = 0;
    int left_phase = 0;
    int right_phase = 0;
    fl = f_min;
    fr = f_min;
    for (int b = 1; b <= steps + silent; ++b) {
        if (b <= silent) {
            std::fill_n(buffer->data() + index, 2 * block, audio_sample{0});
        } else {
            RenderTone(left_sine_table, buffer, block, index, left_phase, fl);
            RenderTone(right_sine_table, buffer, block, index, right_phase, fr);
            fl = StepUp(fl);
            fr = fl;
        }
        index += 2 * block;
    }
    return index / 2;
}

void GeneratorState::ResetHeaders() {
    WAVEHDR& header1 = *p_wave_hdr1;
    WAVEHDR& header2 = *p_wave_hdr2;
    header1 = WAVEHDR{};
    header1.lpData = reinterpret_cast<char*>(p_buffer1);
    header1.dwLoops = 1;
    header2 = header1;
    header2.lpData = reinterpret_cast<char*>(p_buffer2);
}

int GeneratorState::PrepareSweep() {
    if (!HasMemory() || !LimitsUsable(f_min, f_max)) return kCannotPrepare;
    const bool looping = IsLooping(speed);
    const std::int32_t chunk_frames = ChunkFrames(chunk_ms);
    if (!looping && (chunk_frames <= 0 || chunk_frames > kBufferFrames)) return kCannotPrepare;
    if (!looping && (!p_wave_hdr1 || !p_wave_hdr2)) return kCannotPrepare;
    // The slow sweep's table is obtained first so that a refusal changes nothing.
    std::unique_ptr<extended[]> table;
    if (speed == speeds::slow) {
        if (slow_sweep_chunks < 1) return kCannotPrepare;
        table.reset(new (std::nothrow) extended[static_cast<std::size_t>(slow_sweep_chunks)]);
        if (!table) return kCannotPrepare;
    }

    EnsureLeftTable();
    EnsureRightTable();
    chunk_freq.reset();

    if (looping) return RenderFastSweep(p_buffer1, speed == speeds::fast_smooth ? 1000 : 20);

    PlanSteps(std::max(slow_sweep_chunks, 2));
    f_inv_ratio = 1.0L / f_ratio;
    fl = f_min;
    fr = fl;
    if (speed == speeds::manual) {
        const ChannelFrequencies manual = panel_.ManualFrequencies();
        fl = manual.left;
        fr = manual.right;
    }
    if (speed == speeds::slow) {
        table[0] = f_min;
        for (int k = 1; k < slow_sweep_chunks; ++k)
            table[k] = StepUp(table[k - 1]);
        chunk_freq = std::move(table);
        fl = chunk_freq[0];
        fr = fl;
    }
    // Bands matter to the slow sweep only, whose frequencies are all positive;
    // manual frequencies may not be.
    current_octave = next_octave = speed == speeds::slow ? HalfOctaveIndex(fl) : 0;
    const auto chunk_bytes = static_cast<std::uint32_t>(chunk_frames) * 4;
    p_wave_hdr1->dwBufferLength = chunk_bytes;
    p_wave_hdr2->dwBufferLength = chunk_bytes;
    return 0;
}

void GeneratorState::QueueChunk(WAVEHDR& header, WaveOutSink& sink) {
    if (shutoff || all_written() || !header.lpData) return;

    // A header never describes more than its buffer holds.
    const std::uint32_t bytes = std::min<std::uint32_t>(header.dwBufferLength, sizeof(TBuffer));
    if (speed == speeds::slow && do_markers && current_octave != next_octave) {
        std::memset(header.lpData, 0, bytes);
        current_octave = next_octave;
        panel_.SetLastMarkerText("Last at:\r" + FormatHz(fl));
    } else {
        const int frames = static_cast<int>(bytes / 4);
        RenderTone(left_sine_table, BufferOf(header), frames, 0, left_angle, fl);
        RenderTone(right_sine_table, BufferOf(header), frames, 0, right_angle, fr);
    }
    last_f = fl;
    sink.waveOutWrite(header);
    ++buffers_written;

    switch (speed) {
    case speeds::manual:
        if (direction == directions::up) {
            fl = StepUp(fl);
            fr = fl;
        } else if (direction == directions::down) {
            fl = log_lin == modes::linear ? fl - f_step : fl * f_inv_ratio;
            fr = fl;
        }
        direction = directions::holding;
        break;
    case speeds::slow:
        // Without a plan (no PrepareSweep for this start) all_written() says
        // there is nothing further to play.
        if (!all_written()) {
            fl = chunk_freq[buffers_written];
            fr = fl;
            next_octave = HalfOctaveIndex(fl);
        }
        break;
    case speeds::no_sweep:
    case speeds::fast_stepped:
    case speeds::fast_smooth:
        break;
    }
}

bool GeneratorState::QueueFirstBuffers(WaveOutSink& sink) {
    EnsureLeftTable();
    EnsureRightTable();
    ResetHeaders();
    WAVEHDR& header1 = *p_wave_hdr1;
    WAVEHDR& header2 = *p_wave_hdr2;
    const int frames = PrepareSweep();
    if (frames == kCannotPrepare) return false;
    if (IsLooping(speed)) {
        header1.dwBufferLength = static_cast<std::uint32_t>(frames) * 4;
        header1.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
        header1.dwLoops = 0xFFFFFFFF;
        // Header 2 keeps length 0: the looping kinds never hand it over.
        sink.waveOutPrepareHeader(header1);
        sink.waveOutPrepareHeader(header2);
        sink.waveOutWrite(header1);
    } else {
        buffers_played = 0;
        buffers_written = 0;
        sink.waveOutPrepareHeader(header1);
        QueueChunk(header1, sink);
        sink.waveOutPrepareHeader(header2);
        QueueChunk(header2, sink);
    }
    return true;
}

GeneratorState::HeaderReturn GeneratorState::HeaderDone(WAVEHDR& header, WaveOutSink& sink) {
    ++buffers_played;
    if (buffers_played >= buffers_written) return HeaderReturn::AllPlayed;
    const std::int32_t written = buffers_written;
    QueueChunk(header, sink);
    return buffers_written != written ? HeaderReturn::Refilled : HeaderReturn::NotRefilled;
}

}  // namespace quorvex
