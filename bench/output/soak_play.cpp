// SPDX-License-Identifier: GPL-3.0-or-later
// Plays through the program's real device layer and Playback into a private
// server's null sink, records its monitor and compares the recording with
// the engine's render: the gapless soak and the Stop-to-silence measurement.
//
//   output_soak [--server pulseaudio|pipewire] [--runs N] [--chunks C] [--load W]
//       plays the slow sweep with markers N times (default 10), C chunks of
//       it (default 180: the whole 45 s sweep, which ends by itself), and
//       prints "N/N exact, underruns U, inserted frames F". W busy workers
//       (default 0) load the machine meanwhile.
//   output_soak --stops N [--server ...]
//       stops a fixed tone N times (default 10) and prints the time from each
//       Stop to the last non-silent frame in the recording: median and max.
//   --stall MS   stops the user-interface thread for MS milliseconds when
//       every 30th done notification arrives, before its refill (6 stalls
//       per sweep): the server plays on from the one chunk it holds.
//   --pacat plays each run's render with pacat as well, right after the
//       program's run, into the same recorder (10 runs: 10 of each,
//       interleaved), and prints "pacat: N/N exact" too.
//   --graph prints what pw-top shows during the first run (PipeWire only).
//   --hops prints, per run, where the time went from the server taking a
//       chunk's end to its refill's write (medians and maxima over the
//       chunks, and each stalled one).

#include <pulse/rtclock.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "output/pulse_stream.h"
#include "output/pulse_wave_device.h"
#include "tests/output/playback_rig.h"
#include "tests/output/pulse_recording.h"
#include "tests/output/pulse_server.h"

namespace quorvex {
namespace {

using testing_support::PlaybackRig;
using testing_support::PrivatePulseServer;
using testing_support::WaitUntil;

constexpr int kChunkFrames = 11025;
constexpr double kBytesPerMs = 44.1 * 4;

// The device's trace points of the current run.
std::mutex trace_mutex;
std::vector<StreamTracePoint> trace_points;
void Collect(const StreamTracePoint& point) {
    const std::lock_guard<std::mutex> lock(trace_mutex);
    trace_points.push_back(point);
}

// Notes when each done notification reached Playback, before its handler;
// with stall_ms, stops the thread that long before every 30th handler.
class DoneClock : public QObject {
public:
    DoneClock() { clock.start(); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == MM_WOM_DONE) {
            done_at_ms.push_back(clock.nsecsElapsed() / 1e6);
            done_at_usec.push_back(pa_rtclock_now());
            if (stall_ms > 0 && done_at_ms.size() % 30 == 0) {
                QThread::msleep(static_cast<unsigned long>(stall_ms));  // before the refill: the worst moment
                stall_end_usec.push_back(pa_rtclock_now());
            }
        }
        return false;
    }
    QElapsedTimer clock;
    std::vector<double> done_at_ms;
    std::vector<std::uint64_t> done_at_usec;  // on the device's clock
    std::vector<std::uint64_t> stall_end_usec;
    int stall_ms = 0;
};

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// For each refilled chunk k (its done notification, then the write of chunk
// k + 2): the hops, in milliseconds, from the first timing answer that shows
// the server took the chunk's end (`seen`; the answer before it did not,
// `before` that), to the done notification posted (the sink's delay left to
// the clock), to the user-interface thread, to the refill's write (less a
// stall); and the margin: how long before the server would have read up to
// the end of chunk k + 1 the refill came, by the read index's last figures.
void PrintHops(const std::vector<StreamTracePoint>& points, const std::vector<std::uint64_t>& ui_at,
               const std::vector<std::uint64_t>& stall_end, int stall_ms) {
    std::vector<std::int64_t> ends;
    std::vector<std::uint64_t> wrote_at, posted_at;
    std::vector<const StreamTracePoint*> figures;
    for (const StreamTracePoint& p : points) {
        if (p.kind == StreamTracePoint::Wrote) ends.push_back(p.index), wrote_at.push_back(p.at);
        if (p.kind == StreamTracePoint::DonePosted) posted_at.push_back(p.at);
        if (p.kind == StreamTracePoint::Figures) figures.push_back(&p);
    }
    std::vector<double> look, sink, post, ui, margin;
    std::int64_t step = 0;
    for (std::size_t g = 1; g < figures.size(); ++g) {
        const std::int64_t move = figures[g]->read - figures[g - 1]->read;
        if (move > 0 && (step == 0 || move < step)) step = move;
    }
    if (step == 0) return;
    std::size_t f = 0;
    for (std::size_t k = 0; k + 2 < ends.size() && k < posted_at.size() && k < ui_at.size(); ++k) {
        while (f < figures.size() && figures[f]->read < ends[k]) ++f;
        if (f == figures.size()) break;
        const StreamTracePoint& seen = *figures[f];
        const double before = f > 0 ? (seen.at - figures[f - 1]->at) / 1e3 : 0;
        const bool stalled = stall_ms > 0 && (k + 1) % 30 == 0;
        const double to_post = (static_cast<double>(posted_at[k]) - seen.at) / 1e3;
        const double to_ui = (static_cast<double>(ui_at[k]) - posted_at[k]) / 1e3;
        const double to_write = (static_cast<double>(wrote_at[k + 2]) - ui_at[k]) / 1e3 - (stalled ? stall_ms : 0);
        const std::size_t stall_index = (k + 1) / 30 - 1;
        const double overslept = stalled && stall_index < stall_end.size()
                                     ? (static_cast<double>(stall_end[stall_index]) - ui_at[k]) / 1e3 - stall_ms
                                     : 0;
        // The server takes its stream in steps of `step` bytes; the step
        // that takes chunk k + 1's end is the last one the refill must be
        // there for. Counted from when the step that took chunk k's end was
        // seen (at most `before` after it came), a step every step's length.
        const std::int64_t need = (ends[k + 1] / step + 1) * step;
        const double left = (seen.at - static_cast<double>(wrote_at[k + 2])) / 1e3 + (need - seen.read) / kBytesPerMs;
        sink.push_back(to_post);
        post.push_back(to_ui);
        ui.push_back(to_write);
        look.push_back(before);
        if (!stalled) margin.push_back(left);
        if (stalled || left < 10) {
            std::printf("  %s after chunk %zu: end %+.1f ms past the read index when seen (previous figures %.1f ms "
                        "earlier), seen -> done posted %.1f ms, -> UI %.2f ms, -> write %.2f ms + stall (overslept by %.2f ms); "
                        "then %.1f ms left before the step that takes chunk %zu's end\n",
                        stalled ? "stall" : "short", k + 1, (seen.read - ends[k]) / kBytesPerMs, before, to_post, to_ui, to_write, overslept, left, k + 2);
        }
    }
    const auto asks = std::count_if(points.begin(), points.end(),
                                    [](const StreamTracePoint& p) { return p.kind == StreamTracePoint::FiguresAsked; });
    const auto row = [](const char* what, const std::vector<double>& v) {
        std::printf("  %-46s median %7.2f ms, max %7.2f ms\n", what,
                    Median(v), v.empty() ? 0 : *std::max_element(v.begin(), v.end()));
    };
    std::printf("  hops over %zu refills (%zu timing requests, the server's step %.1f ms):\n", sink.size(),
                static_cast<std::size_t>(asks), step / kBytesPerMs);
    row("previous figures -> figures showing the end taken", look);
    row("figures -> done posted (the sink's delay)", sink);
    row("done posted -> user-interface thread", post);
    row("user-interface thread -> refill written", ui);
    row("refill written, left before the step that needs it", margin);
}

// pw-top only draws on a terminal: give it one, then keep its last screen.
void StartGraph(QProcess& top) {
    top.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TERM", "xterm");
    env.insert("COLUMNS", "120");
    env.insert("LINES", "20");
    top.setProcessEnvironment(env);
    top.start("script", {"-qec", "stty cols 120 rows 20; timeout 3 pw-top", "/dev/null"});
}

void ShowGraph(QProcess& top) {
    top.waitForFinished(8000);
    QString screen = QString::fromLocal8Bit(top.readAllStandardOutput());
    screen.remove(QRegularExpression("\\x1b\\[[0-9;?]*[A-Za-z]|\\x1b[()][A-Za-z0-9]|\\x1b[=>]|\\r"));
    const qsizetype last = screen.lastIndexOf("S   ID");
    std::printf("%s\n", qPrintable(last >= 0 ? screen.mid(last, 1200) : screen.right(1200)));
}

// Where a recording's first fault lies, for the run's line.
std::string FirstFault(const testing_support::RecordingCheck& check) {
    if (!check.found || check.inserted + check.differing + check.dropped == 0) return "";
    return " (first at " + std::to_string(check.first_fault / 44100.0).substr(0, 5) + " s)";
}

// Plays `render` with pacat, with the buffer attributes the device asks for
// as far as pacat lets them be set (target length and refill step; its
// prebuffer is the server's default), into the same recorder; whether the
// recording is exact.
bool PacatExact(PrivatePulseServer& server, const std::vector<std::int16_t>& render, int run) {
    const QString file = server.dir() + "/render.raw";
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(reinterpret_cast<const char*>(render.data()), static_cast<qint64>(render.size() * 2)) !=
            static_cast<qint64>(render.size() * 2)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return false;
    }
    out.close();
    if (!server.StartRecording()) return false;
    QProcess pacat;
    pacat.start("pacat", {"--raw", "--format=s16le", "--rate=44100", "--channels=2", "-d", "null",
                          "--latency=" + QString::number(500 * 176400 / 1000),
                          "--process-time=" + QString::number(200 * 176400 / 1000), file});
    const bool finished = pacat.waitForFinished(90000);
    const std::vector<std::int16_t> recording = server.StopRecording();
    const auto check = testing_support::CompareWithRender(recording, render);
    std::printf("run %d, pacat: %s, inserted %zu frames in %zu gaps, %zu differing, %zu dropped, %zu missing%s%s\n",
                run, check.exact() ? "exact" : "NOT exact", check.inserted, check.gaps, check.differing, check.dropped,
                check.missing, FirstFault(check).c_str(), finished && pacat.exitCode() == 0 ? "" : ", pacat failed");
    return check.exact();
}

int Soak(PrivatePulseServer& server, int runs, int chunks, int workers, bool graph, int stall_ms, bool hops,
         bool pacat) {
    int exact = 0, pacat_exact = 0;
    std::uint64_t underruns = 0;
    std::size_t inserted = 0;
    for (int run = 1; run <= runs; ++run) {
        if (!server.StartRecording()) {
            std::fprintf(stderr, "the recording did not start\n");
            return 2;
        }
        {
            const std::lock_guard<std::mutex> lock(trace_mutex);
            trace_points.clear();
        }
        testing_support::BackgroundLoad load(server.dir(), workers);
        PulseWaveDevice device;
        PlaybackRig rig(device);
        DoneClock done;
        done.stall_ms = stall_ms;
        rig.playback.installEventFilter(&done);
        rig.gen.speed = speeds::slow;
        rig.view.marker_checked = true;
        rig.playback.btnStartClick();
        QProcess top;
        if (graph && run == 1) {
            WaitUntil([] { return false; }, 1000);
            StartGraph(top);
        }
        const bool whole = chunks >= 180;
        if (graph && run == 1) {
            WaitUntil([&] { return top.state() == QProcess::NotRunning; }, 8000);
            ShowGraph(top);
        }
        WaitUntil([&] { return rig.gen.closed || (!whole && rig.gen.buffers_played >= chunks); }, 60000);
        const double idle_after_ms = rig.gen.closed && !done.done_at_ms.empty()
                                         ? done.clock.nsecsElapsed() / 1e6 - done.done_at_ms.back()
                                         : -1;
        const int played = rig.gen.buffers_played;
        rig.playback.StopOutput();
        load.Stop();
        const std::vector<std::int16_t> recording = server.StopRecording();
        const std::vector<std::int16_t> render = testing_support::EngineRender(rig.gen, chunks);
        const auto check = testing_support::CompareWithRender(recording, render);
        exact += check.exact() ? 1 : 0;
        underruns += device.TotalUnderruns();
        inserted += check.inserted;
        std::printf("run %d: %s, %d chunks played, inserted %zu frames in %zu gaps, %zu differing, %zu dropped, "
                    "%zu missing%s, underruns %llu",
                    run, check.exact() ? "exact" : "NOT exact", played, check.inserted, check.gaps, check.differing,
                    check.dropped, check.missing, FirstFault(check).c_str(),
                    static_cast<unsigned long long>(device.TotalUnderruns()));
        if (whole) std::printf(", idle %.0f ms after the last done notification", idle_after_ms);
        std::printf("\n");
        if (hops) {
            const std::lock_guard<std::mutex> lock(trace_mutex);
            PrintHops(trace_points, done.done_at_usec, done.stall_end_usec, stall_ms);
        }
        if (pacat) pacat_exact += PacatExact(server, render, run) ? 1 : 0;
        std::fflush(stdout);
    }
    if (pacat) std::printf("pacat: %d/%d exact\n", pacat_exact, runs);
    std::printf("%d/%d exact, underruns %llu, inserted frames %zu\n", exact, runs,
                static_cast<unsigned long long>(underruns), inserted);
    return exact == runs && underruns == 0 ? 0 : 1;
}

// Each Stop comes a random 0 to 240 ms after a done notification. The frame
// that notification returned ends a known chunk, so the recording positions
// the Stop: the done notification comes only once its chunk was played, so
// the figure errs towards longer.
int Stops(PrivatePulseServer& server, int stops) {
    std::mt19937 random(12345);
    std::vector<double> delays;
    for (int k = 0; k < stops; ++k) {
        if (!server.StartRecording()) return 2;
        PulseWaveDevice device;
        PlaybackRig rig(device);
        DoneClock done;
        rig.playback.installEventFilter(&done);
        rig.gen.speed = speeds::no_sweep;
        rig.view.lower = "440";
        rig.playback.btnStartClick();
        const int chunk = 3 + k % 3;
        WaitUntil([&] { return rig.gen.buffers_played >= chunk; }, 5000);
        const double wait_ms = std::uniform_int_distribution<int>(0, 240)(random);
        WaitUntil([&] { return done.clock.nsecsElapsed() / 1e6 >= done.done_at_ms.at(chunk - 1) + wait_ms; }, 1000);
        const double stop_ms = done.clock.nsecsElapsed() / 1e6;
        rig.playback.StopOutput();
        const std::vector<std::int16_t> recording = server.StopRecording();

        const std::vector<std::int16_t> render = testing_support::EngineRender(rig.gen, chunk + 2);
        const std::vector<std::int16_t> opening(render.begin(), render.begin() + 4096);
        const std::ptrdiff_t at = testing_support::Find(recording, opening);
        if (at < 0) {
            std::fprintf(stderr, "stop %d: the tone is not in the recording\n", k + 1);
            return 1;
        }
        const std::size_t chunk_end = static_cast<std::size_t>(at) / 2 + static_cast<std::size_t>(chunk) * kChunkFrames;
        std::size_t last = chunk_end;
        for (std::size_t f = chunk_end; f < recording.size() / 2; ++f) {
            if (recording[2 * f] != 0 || recording[2 * f + 1] != 0) last = f + 1;
        }
        const double sound_after_ms = 1000.0 * static_cast<double>(last - chunk_end) / 44100.0;
        const double delay = sound_after_ms - (stop_ms - done.done_at_ms.at(chunk - 1));
        delays.push_back(delay);
        std::printf("stop %d: %.1f ms from Stop to the last non-silent frame\n", k + 1, delay);
    }
    std::sort(delays.begin(), delays.end());
    const double median = delays.size() % 2 ? delays[delays.size() / 2]
                                            : (delays[delays.size() / 2 - 1] + delays[delays.size() / 2]) / 2;
    std::printf("Stop to silence over %d stops: median %.1f ms, max %.1f ms (goal: median <= 100 ms)\n", stops, median,
                delays.back());
    return median <= 100 ? 0 : 1;
}

}  // namespace
}  // namespace quorvex

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    using namespace quorvex;
    testing_support::ServerKind kind = testing_support::ServerKindFromEnvironment();
    int runs = 10, chunks = 180, workers = 0, stops = 0, stall_ms = 0;
    bool graph = false, hops = false, pacat = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto next = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
        if (arg == "--server") {
            const std::string name = next();
            if (name != "pulseaudio" && name != "pipewire") {
                std::fprintf(stderr, "--server: pulseaudio or pipewire\n");
                return 2;
            }
            kind = name == "pipewire" ? testing_support::ServerKind::pipewire : testing_support::ServerKind::pulseaudio;
        } else if (arg == "--runs") {
            runs = std::atoi(next().c_str());
        } else if (arg == "--chunks") {
            chunks = std::clamp(std::atoi(next().c_str()), 1, 180);
        } else if (arg == "--load") {
            workers = std::atoi(next().c_str());
        } else if (arg == "--stops") {
            stops = std::atoi(next().c_str());
        } else if (arg == "--stall") {
            stall_ms = std::atoi(next().c_str());
        } else if (arg == "--graph") {
            graph = true;
        } else if (arg == "--hops") {
            hops = true;
        } else if (arg == "--pacat") {
            pacat = true;
        } else {
            std::fprintf(stderr, "usage: %s [--server pulseaudio|pipewire] [--runs N] [--chunks C] [--load W] "
                                 "[--stops N] [--stall MS] [--graph] [--hops] [--pacat]\n", argv[0]);
            return 2;
        }
    }
    testing_support::PrivatePulseServer server(kind);
    if (!server.ok()) {
        std::fprintf(stderr, "%s\n", server.error().c_str());
        return 2;
    }
    std::printf("server: %s\n", testing_support::ServerKindName(kind));
    if (hops) PulseStream::SetTrace(Collect);
    return stops > 0 ? Stops(server, stops) : Soak(server, runs, chunks, workers, graph, stall_ms, hops, pacat);
}
