// Streamed output through the real device layer and Playback while other
// work loads the machine: the recording must be the engine's render, frame
// for frame, with no underrun.

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

TEST(StreamUnderLoad, FifteenSecondsOfASlowSweepAreRecordedExactly) {
    PrivatePulseServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    ASSERT_TRUE(server.StartRecording());
    testing_support::BackgroundLoad load(server.dir(), 3);

    PulseWaveDevice device;
    PlaybackRig rig(device);
    rig.gen.speed = speeds::slow;
    rig.view.marker_checked = true;  // silent marker chunks between the tones
    constexpr int kChunks = 60;      // 15 s
    rig.playback.btnStartClick();
    ASSERT_TRUE(WaitUntil([&] { return rig.gen.buffers_played >= kChunks || rig.gen.closed; }, 25000));
    const std::uint64_t underruns = device.Underruns(rig.gen.hWave_out);
    rig.playback.StopOutput();
    load.Stop();
    const std::vector<std::int16_t> recording = server.StopRecording();

    const auto check = testing_support::CompareWithRender(recording, testing_support::EngineRender(rig.gen, kChunks));
    EXPECT_TRUE(check.exact()) << "found " << check.found << ", inserted " << check.inserted << " frames in "
                               << check.gaps << " gaps, " << check.differing << " differing, " << check.missing
                               << " missing";
    EXPECT_EQ(underruns, 0u);
    EXPECT_EQ(device.TotalUnderruns(), 0u);
}

}  // namespace
}  // namespace quorvex
