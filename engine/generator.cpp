// SPDX-License-Identifier: GPL-3.0-or-later
// Creation of the generator state: defaults, format and memory.

#include <new>

#include "engine/generator.h"

namespace quorvex {

// The other fields start from their initialisers in the class.
GeneratorState::GeneratorState(ControlPanel& panel) : panel_(panel) {
    p_wave_hdr1 = &header1_;
    p_wave_hdr2 = &header2_;
    chunk_ms = 250;
    slow_sweep_time = 45000;
    slow_sweep_chunks = slow_sweep_time / chunk_ms;
    buffer_bytes = kBufferSamples;
    // Value-initialised, so the buffers and tables start as silence. A
    // missing piece leaves HasMemory() false; the window reports it.
    buffer1_.reset(new (std::nothrow) TBuffer{});
    buffer2_.reset(new (std::nothrow) TBuffer{});
    p_buffer1 = buffer1_.get();
    p_buffer2 = buffer2_.get();
    left_table_.reset(new (std::nothrow) TSineTable{});
    right_table_.reset(new (std::nothrow) TSineTable{});
    left_sine_table = left_table_.get();
    right_sine_table = right_table_.get();
    pcm.wFormatTag = WAVE_FORMAT_PCM;
    pcm.nChannels = 2;
    pcm.nSamplesPerSec = kSampleRate;
    pcm.wBitsPerSample = 16;
    pcm.nBlockAlign = static_cast<std::uint16_t>(pcm.nChannels * pcm.wBitsPerSample / 8);
    pcm.nAvgBytesPerSec = pcm.nSamplesPerSec * pcm.nBlockAlign;
}

extended GeneratorState::LevelToAmplitude(int position) const {
    return quorvex::LevelToAmplitude(position, panel_.LowPowerPosition());
}

}  // namespace quorvex
