// SPDX-License-Identifier: GPL-3.0-or-later
// Streamed output through the real device layer and Playback while other
// work loads the machine: a whole slow sweep with markers (45 s), which must
// be recorded as the engine renders it, frame for frame, with no underrun,
// and end by itself once its last chunk has been played, on either server.

#include <QElapsedTimer>
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

TEST(StreamUnderLoad, ASlowSweepIsRecordedExactlyAndEndsByItself) {
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
    const auto check = testing_support::CompareWithRender(recording, testing_support::EngineRender(rig.gen, 180));
    EXPECT_TRUE(check.exact()) << "found " << check.found << ", inserted " << check.inserted << " frames in "
                               << check.gaps << " gaps, " << check.differing << " differing, " << check.dropped
                               << " dropped, " << check.missing << " missing; first fault at frame "
                               << check.first_fault;
    EXPECT_EQ(device.TotalUnderruns(), 0u);
}

}  // namespace
}  // namespace quorvex
