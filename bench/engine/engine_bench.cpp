// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's costs: the oscillator in samples per second, one streamed
// chunk, one fast-smooth pass and one sine-table build.

#include <string>

#include <benchmark/benchmark.h>

#include "engine/generator.h"

namespace quorvex {
namespace {

class NullHost final : public ControlPanel, public WaveOutSink {
public:
    void waveOutPrepareHeader(WAVEHDR&) override {}
    void waveOutWrite(WAVEHDR&) override {}
    void SetLastMarkerText(const std::string&) override {}
    ChannelFrequencies ManualFrequencies() override { return {1000, 1000}; }
    int LowPowerPosition() const override { return 20; }
};

// A generator with both tables built at level 12, as after a start.
struct Started {
    Started() {
        state.left_amplitude = state.right_amplitude = LevelToAmplitude(12, 20);
        state.EnsureLeftTable();
        state.EnsureRightTable();
    }
    NullHost host;
    GeneratorState state{host};
};

// One channel across a whole buffer: samples written per second.
void BM_RenderTone(benchmark::State& bench) {
    Started g;
    int phase = 0;
    for (auto _ : bench) {
        g.state.RenderTone(g.state.left_sine_table, g.state.p_buffer1, kBufferFrames, 0, phase, 1000.0L);
        benchmark::DoNotOptimize(g.state.p_buffer1->data());
        benchmark::ClobberMemory();
    }
    bench.SetItemsProcessed(bench.iterations() * kBufferFrames);
}
BENCHMARK(BM_RenderTone);

// One 250 ms tone chunk, both channels, as a done notification refills it.
void BM_QueueChunk(benchmark::State& bench) {
    Started g;
    g.state.speed = speeds::no_sweep;
    if (!g.state.QueueFirstBuffers(g.host)) bench.SkipWithError("the start was refused");
    for (auto _ : bench) {
        g.state.QueueChunk(*g.state.p_wave_hdr1, g.host);
        benchmark::ClobberMemory();
    }
    bench.SetItemsProcessed(bench.iterations() * 2 * 11025);
}
BENCHMARK(BM_QueueChunk);

// One looping pass of 1000 steps over 20-20000 Hz.
void BM_FastSmoothPass(benchmark::State& bench) {
    Started g;
    for (auto _ : bench) {
        benchmark::DoNotOptimize(g.state.RenderFastSweep(g.state.p_buffer1, 1000));
        benchmark::ClobberMemory();
    }
    bench.SetItemsProcessed(bench.iterations() * 2 * 57319);
}
BENCHMARK(BM_FastSmoothPass);

void BM_BuildSineTable(benchmark::State& bench) {
    Started g;
    for (auto _ : bench) {
        BuildSineTable(*g.state.left_sine_table, 0.251189L);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BuildSineTable);

}  // namespace
}  // namespace quorvex
