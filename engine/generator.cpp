// Creation of the generator state: defaults, format and memory.

#include <new>

#include "engine/generator.h"

namespace quorvex {

GeneratorState::GeneratorState(GeneratorHost& host) : host_(host) {
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
    hWave_out = 0;
    left_table_.reset(new (std::nothrow) TSineTable{});
    right_table_.reset(new (std::nothrow) TSineTable{});
    left_sine_table = left_table_.get();
    right_sine_table = right_table_.get();
    left_sine_table_valid = false;
    right_sine_table_valid = false;
    locked_frequencies = true;
    present_left_amplitude = -1.0L;
    present_right_amplitude = -1.0L;
    out_level = out_levels::phase_normal;
    pcm.wFormatTag = WAVE_FORMAT_PCM;
    pcm.nChannels = 2;
    pcm.nSamplesPerSec = kSampleRate;
    pcm.wBitsPerSample = 16;
    pcm.nBlockAlign = static_cast<std::uint16_t>(pcm.nChannels * pcm.wBitsPerSample / 8);
    pcm.nAvgBytesPerSec = pcm.nSamplesPerSec * pcm.nBlockAlign;
    pcm.cbSize = 0;
    shutoff = false;
    sweep_running = false;
}

extended GeneratorState::LevelToAmplitude(int position) const {
    return quorvex::LevelToAmplitude(position, host_.LowPowerPosition());
}

}  // namespace quorvex
