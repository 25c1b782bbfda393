// SPDX-License-Identifier: GPL-3.0-or-later
// Streamed output through the real device layer and Playback while other
// work loads the machine: a whole slow sweep with markers (45 s), which must
// end by itself once its last chunk has been played, with the server asked
// once to play out, and be recorded as the engine renders it: every frame in
// order, none lost, none changed.
//
// Whether the machine let the server keep time is not this test's to say:
// a busy moment can make a server insert silence however early its client
// wrote (every client alike), so inserted silence and underruns are
// reported here, not failed on. The soak script (bench/output/soak.sh) and
// the stall script measure them under a build; a gap never passes unseen
// there.

#include <QElapsedTimer>
#include <QFile>
#include <cstdio>
#include <gtest/gtest.h>

#include "output/pulse_wave_device.h"
#include "tests/output/playback_rig.h"
#include "tests/output/pulse_recording.h"
#include "tests/output/pulse_server.h"

namespace quorvex {
namespace {

using testing_support::PlaybackRig;
using testing_support::PrivatePulseServer;
using testing_support::WaitUntil;

// Notes when the last done notification reached Playback.
class LastDone : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == MM_WOM_DONE) at.start();
        return false;
    }
    QElapsedTimer at;
};

// With QUORVEX_KEEP_RECORDING=PREFIX set (bench/output/load-test.sh sets
// it), a recording that is not exact is kept as PREFIX.recording.raw beside
// the render, PREFIX.render.raw (s16le stereo), to see what the faults are.
void KeepForStudy(const std::vector<std::int16_t>& recording, const std::vector<std::int16_t>& render) {
    const QByteArray prefix = qgetenv("QUORVEX_KEEP_RECORDING");
    if (prefix.isEmpty()) return;
    for (const auto& [suffix, samples] : {std::pair{".recording.raw", &recording}, std::pair{".render.raw", &render}}) {
        QFile file(QString::fromLocal8Bit(prefix) + suffix);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(reinterpret_cast<const char*>(samples->data()), static_cast<qint64>(samples->size() * 2));
        }
    }
}

TEST(StreamUnderLoad, ASlowSweepLosesNoFrameAndEndsByItself) {
    PrivatePulseServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    ASSERT_TRUE(server.StartRecording());
    testing_support::BackgroundLoad load(server.dir(), 2);  // about what a two-job build makes

    PulseWaveDevice device;
    PlaybackRig rig(device);
    LastDone last_done;
    rig.playback.installEventFilter(&last_done);
    rig.gen.speed = speeds::slow;
    rig.view.marker_checked = true;  // silent marker chunks between the tones
    rig.playback.btnStartClick();
    const bool ended = WaitUntil([&] { return rig.gen.closed; }, 60000);
    const qint64 idle_after_ms = last_done.at.elapsed();
    rig.playback.StopOutput();
    load.Stop();
    const std::vector<std::int16_t> recording = server.StopRecording();

    EXPECT_TRUE(ended) << rig.gen.buffers_played << " of 180 chunks played";
    EXPECT_EQ(rig.gen.buffers_played, 180);
    EXPECT_EQ(rig.view.caption, "&Start");
    EXPECT_LT(idle_after_ms, 1000);
    EXPECT_EQ(device.TotalDrains(), 1u);
    const std::vector<std::int16_t> render = testing_support::EngineRender(rig.gen, 180);
    const auto check = testing_support::CompareWithRender(recording, render);
    if (!check.exact()) KeepForStudy(recording, render);
    // A server that misses a cycle under load (PipeWire does, for every
    // client alike) plays silence in place of that cycle's frames: as many
    // frames dropped as silence inserted, in the same place; PipeWire may do
    // so in one channel and not the other (see CompareChannelWithRender), so
    // each channel is judged on its own. Frames lost without that silence
    // were overwritten, which is never the server's doing; samples that
    // differ were corrupted.
    for (const int channel : {0, 1}) {
        const auto alone = testing_support::CompareChannelWithRender(recording, render, channel);
        EXPECT_TRUE(alone.only_server_faults())
            << "channel " << channel << ": " << alone.differing << " differing, " << alone.missing << " missing, "
            << alone.dropped << " dropped against " << alone.inserted << " of silence; first fault at frame "
            << alone.first_fault;
    }
    ::testing::Test::RecordProperty("inserted_frames", static_cast<int>(check.inserted));
    ::testing::Test::RecordProperty("underruns", static_cast<int>(device.TotalUnderruns()));
    std::printf("load: inserted %zu frames in %zu gaps, dropped %zu, differing %zu, underruns %llu\n", check.inserted,
                check.gaps, check.dropped, check.differing, static_cast<unsigned long long>(device.TotalUnderruns()));
}

}  // namespace
}  // namespace quorvex
