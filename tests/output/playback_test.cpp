// Playback on the virtual device: the playback states from open to close,
// stopping, restarting, failed opens and the limits read from the edits.

#include "output/playback.h"

#include <QCoreApplication>
#include <QLocale>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "output/virtual_wave_device.h"
#include "tests/output/playback_rig.h"

namespace quorvex {
namespace {

using testing::ElementsAre;
using testing_support::EngineRender;
using testing_support::PlaybackRig;

constexpr std::size_t kChunkFrames = 11025;

class PlaybackTest : public ::testing::Test {
protected:
    // Plays one chunk and handles what the device posted.
    void PlayChunk() {
        device.Advance(kChunkFrames);
        rig.Deliver();
    }

    VirtualWaveDevice device;
    PlaybackRig rig{device};
    GeneratorState& gen = rig.gen;
    testing_support::FakeView& view = rig.view;
};

TEST_F(PlaybackTest, LoopingKindQueuesOneRepeatingHeaderAndPlaysTheEngineRender) {
    gen.speed = speeds::fast_smooth;
    view.fnow_texts = {"untouched"};
    rig.playback.btnStartClick();

    EXPECT_TRUE(gen.sweep_running);
    EXPECT_EQ(view.caption, "&Start");  // changes only with the open notification
    EXPECT_FALSE(view.IsControlEnabled(PlaybackControl::edtF1));
    EXPECT_FALSE(view.IsControlEnabled(PlaybackControl::grpChannels));
    EXPECT_TRUE(view.IsControlEnabled(PlaybackControl::grpSweepSpeed));
    EXPECT_THAT(view.fnow_texts, ElementsAre("untouched"));
    EXPECT_FALSE(view.fnow_visible);

    rig.Deliver();
    EXPECT_EQ(view.caption, "&STOP");
    ASSERT_EQ(device.queue().size(), 1u);
    const WAVEHDR& header = *device.queue().front();
    EXPECT_EQ(&header, gen.p_wave_hdr1);
    EXPECT_EQ(header.dwFlags & (WHDR_BEGINLOOP | WHDR_ENDLOOP), WHDR_BEGINLOOP | WHDR_ENDLOOP);
    EXPECT_EQ(header.dwLoops, 0xFFFFFFFFu);

    const std::vector<audio_sample> pass = EngineRender(gen, 0);
    ASSERT_FALSE(pass.empty());
    EXPECT_EQ(header.dwBufferLength, pass.size() * sizeof(audio_sample));
    // Three passes and a bit: the header keeps coming round, nothing is done.
    const std::size_t frames = pass.size() / 2;
    EXPECT_EQ(device.Advance(3 * frames + 100), 3 * frames + 100);
    rig.Deliver();
    std::vector<audio_sample> expected;
    for (int k = 0; k < 4; ++k) expected.insert(expected.end(), pass.begin(), pass.end());
    expected.resize(device.played().size());
    EXPECT_EQ(device.played(), expected);
    EXPECT_EQ(rig.log.seen, "open ");
}

// What each kind of stop yields, and that StopOutput comes back only after
// the close has been handled.
TEST_F(PlaybackTest, StopYieldsOneDoneForALoopAndTwoForAStreamThenOneClose) {
    const struct {
        speeds speed;
        const char* notifications;
        std::vector<std::string> calls_after_stop;
    } cases[] = {
        {speeds::fast_stepped, "open done close ", {"reset", "reset", "close", "unprepare (closed)", "unprepare (closed)"}},
        {speeds::manual,
         "open done done close ",
         {"reset", "reset", "close", "reset (closed)", "close (closed)", "unprepare (closed)", "unprepare (closed)"}},
    };
    for (const auto& c : cases) {
        VirtualWaveDevice device;
        PlaybackRig rig(device);
        rig.gen.speed = c.speed;
        rig.playback.btnStartClick();
        rig.Deliver();
        device.Advance(1000);
        const std::size_t calls_before = device.calls().size();

        rig.playback.btnStartClick();

        EXPECT_TRUE(rig.gen.closed);
        EXPECT_FALSE(rig.gen.sweep_running);
        EXPECT_FALSE(device.is_open());
        EXPECT_EQ(rig.log.seen, c.notifications);
        EXPECT_EQ(std::vector<std::string>(device.calls().begin() + calls_before, device.calls().end()),
                  c.calls_after_stop);
        EXPECT_EQ(rig.view.caption, "&Start");
        EXPECT_FALSE(rig.view.fnow_visible);
    }
}

TEST_F(PlaybackTest, SlowSweepEndsByItselfAfter180ChunksWithTheLabelFollowing) {
    gen.speed = speeds::slow;
    view.marker_checked = true;
    view.enabled[PlaybackControl::lblLastMarker] = true;  // as the speed selection leaves it for slow
    rig.playback.StartOutput();
    EXPECT_THAT(view.fnow_texts, ElementsAre("20 Hz"));
    EXPECT_TRUE(view.fnow_visible);
    EXPECT_TRUE(gen.do_markers);
    EXPECT_EQ(view.last_marker, "Last at:");
    rig.Deliver();

    int chunks = 0;
    while (gen.sweep_running && chunks < 200) {
        PlayChunk();
        ++chunks;
    }
    EXPECT_EQ(chunks, 180);
    EXPECT_EQ(gen.buffers_written, 180);
    EXPECT_EQ(gen.buffers_played, 180);
    EXPECT_TRUE(gen.closed);
    EXPECT_EQ(gen.hWave_out, 0);
    EXPECT_EQ(gen.chunk_freq, nullptr);
    EXPECT_EQ(view.caption, "&Start");
    EXPECT_FALSE(view.fnow_visible);
    EXPECT_FALSE(view.AnyControlDisabled());
    // 180 texts: the start, then at each of the 179 refills the chunk now
    // starting; the sweep climbs to its upper limit.
    ASSERT_EQ(view.fnow_texts.size(), 180u);
    EXPECT_EQ(view.fnow_texts.back(), "20000 Hz");
    EXPECT_EQ(device.played().size(), 180 * kChunkFrames * 2);
    EXPECT_EQ(device.played(), EngineRender(gen, 180));
    EXPECT_EQ(device.Advance(kChunkFrames), 0u);
}

// Start pressed after the last chunk's done notification but before the
// close that it raised has been handled: the old device closes first and the
// new playback is not disturbed by its close.
TEST_F(PlaybackTest, StartWhileAnEndedSweepIsStillClosingOpensAfterTheClose) {
    gen.speed = speeds::slow;
    rig.playback.StartOutput();
    rig.Deliver();
    for (int chunk = 1; chunk < 180; ++chunk) {
        PlayChunk();
    }
    ASSERT_TRUE(gen.sweep_running);
    device.Advance(kChunkFrames);
    QCoreApplication::sendPostedEvents();  // the last done only; its close stays queued
    ASSERT_FALSE(gen.sweep_running);
    ASSERT_FALSE(gen.closed);

    rig.playback.btnStartClick();
    rig.Deliver();

    EXPECT_TRUE(view.warnings.empty());
    EXPECT_TRUE(gen.sweep_running);
    EXPECT_TRUE(device.is_open());
    EXPECT_NE(gen.hWave_out, 0);
    EXPECT_EQ(view.caption, "&STOP");
    EXPECT_EQ(device.queue().size(), 2u);
    rig.playback.StopOutput();
    EXPECT_FALSE(device.is_open());
}

TEST_F(PlaybackTest, StreamedOutputMatchesTheEngineAndShowsEachChunksFrequency) {
    const struct {
        speeds speed;
        modes mode;
    } cases[] = {{speeds::slow, modes::linear}, {speeds::slow, modes::logarithmic}, {speeds::no_sweep, modes::logarithmic}};
    for (const auto& c : cases) {
        VirtualWaveDevice device;
        PlaybackRig rig(device);
        rig.gen.speed = c.speed;
        rig.gen.log_lin = c.mode;
        rig.view.lower = "100";
        rig.view.upper = "1000";
        rig.playback.StartOutput();
        rig.Deliver();
        std::vector<std::string> expected_texts{"100 Hz"};
        for (int k = 0; k < 10; ++k) {
            device.Advance(kChunkFrames);
            rig.Deliver();
            // Shown at the refill: the chunk queued last before it.
            expected_texts.push_back(FormatHz(rig.gen.chunk_freq ? rig.gen.chunk_freq[k + 1] : 100));
        }
        EXPECT_EQ(rig.view.fnow_texts, expected_texts);
        EXPECT_EQ(device.played(), EngineRender(rig.gen, 10));
        EXPECT_FALSE(rig.gen.all_written);
    }
}

TEST_F(PlaybackTest, ManualOutputNeverEndsByItself) {
    gen.speed = speeds::manual;
    rig.playback.StartOutput();
    rig.Deliver();
    for (int k = 0; k < 200; ++k) PlayChunk();
    EXPECT_TRUE(gen.sweep_running);
    EXPECT_FALSE(gen.all_written);
    EXPECT_EQ(gen.buffers_written, 202);
    EXPECT_EQ(device.queue().size(), 2u);
}

TEST_F(PlaybackTest, RestartReadsTheEditsAgainAndStartsBothPhasesAtZero) {
    rig.playback.RestartIfRunning();
    EXPECT_TRUE(device.calls().empty());

    gen.speed = speeds::no_sweep;
    rig.playback.StartOutput();
    rig.Deliver();
    PlayChunk();
    EXPECT_NE(gen.left_angle, 0);
    view.lower = "440";

    rig.playback.RestartIfRunning();
    EXPECT_TRUE(gen.sweep_running);
    EXPECT_EQ(gen.f_min, 440);
    EXPECT_EQ(gen.left_angle, 0);
    EXPECT_EQ(gen.right_angle, 0);
    EXPECT_EQ(rig.log.seen, "open done done done close ");
    EXPECT_EQ(view.fnow_texts.back(), "440 Hz");

    const std::size_t before = device.played().size();
    rig.Deliver();
    device.Advance(2 * kChunkFrames);
    const std::vector<audio_sample> fresh(device.played().begin() + static_cast<std::ptrdiff_t>(before),
                                          device.played().end());
    EXPECT_EQ(fresh, EngineRender(gen, 2));
}

// A failed open leaves the controls and the button as they were; the
// settings read before the open (limits, marker box, phases) are taken over
// all the same, so the manual bars map with the limits just typed.
TEST_F(PlaybackTest, FailedOpenKeepsTheControlsAndNamesTheFailure) {
    const struct {
        MMRESULT code;
        const char* locale;
        std::string text;
    } cases[] = {
        {WAVERR_BADFORMAT, "en_US", "Sorry, your sound card does not support\r\nstereo, 16-bit, 44.1KHz audio"},
        {WAVERR_BADFORMAT, "de_DE", "Sorry, your sound card does not support\r\nstereo, 16-bit, 44,1KHz audio"},
        {MMSYSERR_ALLOCATED, "en_US", "Error opening waveform audio.\rdevice already allocated"},
        {0x10000 + MMSYSERR_NODRIVER, "en_US", "Error opening waveform audio.\rno device driver present"},
        {1234, "en_US", "Error opening waveform audio.\rinvalid parameter passed to error translation routine!"},
    };
    const QLocale saved;
    for (const auto& c : cases) {
        QLocale::setDefault(QLocale(c.locale));
        VirtualWaveDevice device;
        PlaybackRig rig(device);
        device.FailOpens(c.code);
        rig.gen.speed = speeds::slow;
        rig.gen.left_angle = 77;
        rig.view.lower = "500";
        rig.view.marker_checked = true;
        rig.view.last_marker = "Last at:\r23 Hz";

        rig.playback.btnStartClick();

        EXPECT_THAT(rig.view.warnings, ElementsAre(c.text));
        EXPECT_FALSE(rig.gen.sweep_running);
        EXPECT_EQ(rig.gen.hWave_out, 0);
        EXPECT_EQ(rig.gen.f_min, 500);
        EXPECT_TRUE(rig.gen.do_markers);
        EXPECT_EQ(rig.gen.left_angle, 0);
        EXPECT_EQ(rig.view.last_marker, "Last at:");
        EXPECT_EQ(rig.view.caption, "&Start");
        EXPECT_FALSE(rig.view.AnyControlDisabled());
        EXPECT_TRUE(rig.view.fnow_texts.empty());
        rig.Deliver();
        EXPECT_EQ(rig.log.seen, "");

        // Press Start again once the device is back.
        device.FailOpens(MMSYSERR_NOERROR);
        rig.playback.btnStartClick();
        EXPECT_TRUE(rig.gen.sweep_running);
    }
    QLocale::setDefault(saved);
}

TEST_F(PlaybackTest, LimitsAreReadAsWholeIntegersWithFallbacks) {
    const struct {
        const char* text;
        std::int32_t lower;  // edtF1 holding the text
        std::int32_t upper;  // edtF2 holding the text
    } cases[] = {
        {"abc", 150, 300},      {"", 150, 300},           {"440 ", 150, 300},
        {"-", 150, 300},        {"  440", 440, 440},      {"$1B8", 440, 440},
        {"0x1b8", 440, 440},    {"X1B8", 440, 440},       {"+25", 25, 25},
        {"2147483647", 2147483647, 2147483647},           {"2147483648", 150, 300},
        {"4294967296", 150, 300}, {"$100000000", 150, 300},
    };
    for (const auto& c : cases) {
        for (const bool upper : {false, true}) {
            VirtualWaveDevice device;
            PlaybackRig rig(device);
            rig.gen.speed = speeds::no_sweep;
            (upper ? rig.view.upper : rig.view.lower) = c.text;
            rig.playback.StartOutput();
            const std::int32_t got = upper ? rig.gen.f_max : rig.gen.f_min;
            EXPECT_EQ(got, upper ? c.upper : c.lower) << '"' << c.text << (upper ? "\" in edtF2" : "\" in edtF1");
            EXPECT_TRUE(rig.gen.sweep_running);
        }
    }
}

TEST_F(PlaybackTest, LimitsTheEngineCannotUseAreRefusedBeforeTheOpen) {
    const struct {
        const char* lower;
        const char* upper;
    } cases[] = {{"0", "1000"}, {"100", "0"}, {"-100", "1000"}, {"100", "-1000"}, {"-2147483648", "1000"}};
    for (const auto& c : cases) {
        VirtualWaveDevice device;
        PlaybackRig rig(device);
        rig.gen.speed = speeds::slow;
        rig.view.lower = c.lower;
        rig.view.upper = c.upper;
        rig.view.marker_checked = true;
        rig.playback.btnStartClick();
        ASSERT_EQ(rig.view.warnings.size(), 1u) << c.lower << ".." << c.upper;
        EXPECT_THAT(rig.view.warnings[0], testing::HasSubstr("above 0 Hz"));
        EXPECT_TRUE(device.calls().empty());
        EXPECT_FALSE(rig.gen.sweep_running);
        EXPECT_EQ(rig.gen.f_min, 20);
        EXPECT_EQ(rig.gen.f_max, 20000);
        EXPECT_FALSE(rig.gen.do_markers);
        EXPECT_FALSE(rig.view.AnyControlDisabled());
        EXPECT_TRUE(rig.view.fnow_texts.empty());
    }
}

TEST_F(PlaybackTest, MissingBuffersAreRefusedBeforeTheOpen) {
    gen.p_buffer2 = nullptr;  // as when the allocation at creation failed
    rig.playback.btnStartClick();
    ASSERT_EQ(view.warnings.size(), 1u);
    EXPECT_THAT(view.warnings[0], testing::HasSubstr("buffers"));
    EXPECT_TRUE(device.calls().empty());
    EXPECT_FALSE(gen.sweep_running);
    EXPECT_FALSE(view.AnyControlDisabled());
}

TEST_F(PlaybackTest, StopBeforeTheOpenNotificationStillClosesTheDevice) {
    for (const speeds speed : {speeds::fast_smooth, speeds::slow}) {
        VirtualWaveDevice device;
        PlaybackRig rig(device);
        rig.gen.speed = speed;
        rig.playback.StartOutput();
        rig.playback.StopOutput();  // the open notification is still pending
        EXPECT_TRUE(rig.gen.closed);
        EXPECT_FALSE(device.is_open());
        EXPECT_EQ(rig.log.seen, "open close ");
        EXPECT_TRUE(device.played().empty());
        EXPECT_EQ(std::count(device.calls().begin(), device.calls().end(), "write"), 0);
        EXPECT_EQ(rig.view.caption, "&Start");
        EXPECT_FALSE(rig.view.AnyControlDisabled());
    }
}

TEST_F(PlaybackTest, LosingTheDeviceEndsThePlaybackAndAllowsANewStart) {
    gen.speed = speeds::manual;
    rig.playback.StartOutput();
    rig.Deliver();
    PlayChunk();

    device.LoseDevice();
    rig.Deliver();
    EXPECT_FALSE(gen.sweep_running);
    EXPECT_TRUE(gen.closed);
    EXPECT_EQ(view.caption, "&Start");
    EXPECT_FALSE(view.AnyControlDisabled());
    EXPECT_EQ(rig.log.seen, "open done done done close ");

    rig.playback.StopOutput();  // comes straight back
    rig.playback.btnStartClick();
    EXPECT_TRUE(gen.sweep_running);
    EXPECT_TRUE(device.is_open());
}

TEST_F(PlaybackTest, ExitAndCloseRequestStopFirst) {
    gen.speed = speeds::no_sweep;
    rig.playback.StartOutput();
    rig.Deliver();
    rig.playback.btnExitClick();
    EXPECT_FALSE(device.is_open());
    EXPECT_TRUE(gen.closed);
    EXPECT_EQ(view.close_window_calls, 1);

    rig.playback.StartOutput();
    rig.Deliver();
    rig.playback.FormCloseQuery();
    EXPECT_FALSE(device.is_open());
    EXPECT_TRUE(gen.shutoff);
}

TEST_F(PlaybackTest, MarkerBoxComesBackOnlyWhenItsLabelIsEnabled) {
    for (const bool label_enabled : {false, true}) {
        VirtualWaveDevice device;
        PlaybackRig rig(device);
        rig.view.enabled[PlaybackControl::lblLastMarker] = label_enabled;
        rig.playback.StartOutput();
        rig.Deliver();
        rig.playback.StopOutput();
        EXPECT_EQ(rig.view.IsControlEnabled(PlaybackControl::chkOctaveMarker), label_enabled);
        EXPECT_TRUE(rig.view.IsControlEnabled(PlaybackControl::grpOctaveMarkers));
        EXPECT_TRUE(rig.view.IsControlEnabled(PlaybackControl::edtF2));
    }
}

}  // namespace
}  // namespace quorvex
