// SPDX-License-Identifier: GPL-3.0-or-later
// Output benchmarks: opening the real device until the server takes the
// first frame, the process's CPU while streamed output plays, and one
// chunk's refill on the user-interface thread.
//
// The real-device benchmarks start a private sound server with a null sink
// (the same helper the tests use) and stop it at the end.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <memory>

#include "output/pulse_wave_device.h"
#include "tests/output/playback_rig.h"
#include "tests/output/pulse_server.h"

namespace quorvex {
namespace {

using testing_support::PlaybackRig;
using testing_support::WaitUntil;

// Started by main before the benchmarks and stopped by it after them; a
// signal that ends the run early stops it too.
testing_support::PrivatePulseServer* g_server = nullptr;

testing_support::PrivatePulseServer& Server() { return *g_server; }

void StopServerAndExit(int signal) {
    if (g_server) g_server->KillNow();
    ::_exit(128 + signal);
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

class OpenTarget : public QObject {
public:
    void customEvent(QEvent* event) override { opened = opened || event->type() == MM_WOM_OPEN; }
    bool opened = false;
};

// From waveOutOpen to the first frame written into the server's stream, with
// the open notification handled in between as playback does: 50 single
// opens, their median and maximum as counters. (Measured inside one run
// rather than as repetitions: an open the server refuses then ends the run
// with a message instead of leaving the statistics without samples.)
void BM_OpenToFirstFrameAccepted(benchmark::State& state) {
    if (!Server().ok()) {
        state.SkipWithError(Server().error().c_str());
        return;
    }
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    std::vector<std::int16_t> samples(2 * 11025, 1000);
    PulseWaveDevice device;
    for (auto _ : state) {
        std::vector<double> opens_ms;
        for (int k = 0; k < 50; ++k) {
            OpenTarget target;
            WAVEHDR header{};
            header.lpData = reinterpret_cast<char*>(samples.data());
            header.dwBufferLength = static_cast<std::uint32_t>(samples.size() * 2);
            const auto start = std::chrono::steady_clock::now();
            HWAVEOUT handle = 0;
            const MMRESULT result = device.waveOutOpen(&handle, kDefaultWaveDevice, format, &target);
            if (result != MMSYSERR_NOERROR) {
                state.SkipWithError(("open " + std::to_string(k + 1) + " failed: " + std::to_string(result)).c_str());
                break;
            }
            WaitUntil([&] { return target.opened; }, 2000);
            device.waveOutPrepareHeader(handle, &header);
            device.waveOutWrite(handle, &header);
            const bool accepted = device.BytesWritten(handle) > 0;
            opens_ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
            device.waveOutReset(handle);
            device.waveOutClose(handle);
            QCoreApplication::sendPostedEvents();
            if (!accepted) {
                state.SkipWithError("the server took nothing");
                break;
            }
        }
        if (opens_ms.size() < 50) break;
        std::sort(opens_ms.begin(), opens_ms.end());
        state.SetIterationTime((opens_ms[24] + opens_ms[25]) / 2000);
        state.counters["median_ms"] = (opens_ms[24] + opens_ms[25]) / 2;
        state.counters["max_ms"] = opens_ms.back();
    }
}
BENCHMARK(BM_OpenToFirstFrameAccepted)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// The whole process's CPU, as a share of one core, while manual output
// streams for QUORVEX_BENCH_SECONDS (default 30) seconds.
void BM_StreamedPlaybackCpu(benchmark::State& state) {
    if (!Server().ok()) {
        state.SkipWithError(Server().error().c_str());
        return;
    }
    const char* env = std::getenv("QUORVEX_BENCH_SECONDS");
    const int seconds = env ? std::atoi(env) : 30;
    PulseWaveDevice device;
    for (auto _ : state) {
        PlaybackRig rig(device);
        rig.gen.speed = speeds::manual;
        rig.playback.btnStartClick();
        WaitUntil([&] { return rig.view.caption == "&STOP"; }, 2000);
        const double cpu_before = CpuSeconds();
        QElapsedTimer wall;
        wall.start();
        QEventLoop loop;  // one timer for the whole stretch: the wait itself costs nothing
        QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
        loop.exec();
        const double cpu = CpuSeconds() - cpu_before;
        const double elapsed = static_cast<double>(wall.nsecsElapsed()) / 1e9;
        state.SetIterationTime(elapsed);
        state.counters["cpu_percent_of_core"] = 100.0 * cpu / elapsed;
        state.counters["chunks"] = rig.gen.buffers_played;
        rig.playback.StopOutput();
    }
}
BENCHMARK(BM_StreamedPlaybackCpu)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);

// A device that takes every header and does nothing, so that only the
// playback's own work is measured.
class NullDevice : public WaveOutDevice {
public:
    MMRESULT waveOutOpen(HWAVEOUT* handle, unsigned, const WAVEFORMATEX&, QObject*) override {
        *handle = 1;
        return MMSYSERR_NOERROR;
    }
    MMRESULT waveOutPrepareHeader(HWAVEOUT, WAVEHDR*) override { return MMSYSERR_NOERROR; }
    MMRESULT waveOutWrite(HWAVEOUT, WAVEHDR*) override { return MMSYSERR_NOERROR; }
    MMRESULT waveOutReset(HWAVEOUT) override { return MMSYSERR_NOERROR; }
    MMRESULT waveOutClose(HWAVEOUT) override { return MMSYSERR_NOERROR; }
    MMRESULT waveOutUnprepareHeader(HWAVEOUT, WAVEHDR*) override { return MMSYSERR_NOERROR; }
    MMRESULT waveOutEndOfStream(HWAVEOUT) override { return MMSYSERR_NOERROR; }
};

// One done notification of streamed output: label, render and requeue of a
// 250 ms chunk (11 025 stereo frames).
void BM_ChunkRefill(benchmark::State& state) {
    NullDevice device;
    auto rig = std::make_unique<PlaybackRig>(device);
    rig->gen.speed = speeds::no_sweep;
    rig->playback.StartOutput();
    rig->playback.MMWomOpen();
    WAVEHDR* header = rig->gen.p_wave_hdr1;
    for (auto _ : state) {
        rig->playback.MMWomDone(header);
        benchmark::DoNotOptimize(header->lpData[0]);
    }
    state.SetItemsProcessed(state.iterations() * 11025 * 2);
    // Nothing would ever close the null device: let the final stop drop it
    // at once instead of waiting for its close.
    rig->playback.set_close_timeout(std::chrono::milliseconds(0));
}
BENCHMARK(BM_ChunkRefill)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quorvex

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);

    {
        quorvex::testing_support::PrivatePulseServer server;
        quorvex::g_server = &server;
        std::signal(SIGINT, quorvex::StopServerAndExit);
        std::signal(SIGTERM, quorvex::StopServerAndExit);
        std::signal(SIGHUP, quorvex::StopServerAndExit);
        benchmark::RunSpecifiedBenchmarks();
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        std::signal(SIGHUP, SIG_DFL);
        quorvex::g_server = nullptr;
    }
    benchmark::Shutdown();
    return 0;
}
