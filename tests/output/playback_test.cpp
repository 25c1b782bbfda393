// SPDX-License-Identifier: GPL-3.0-or-later
// Playback on the virtual device: the playback states from open to close,
// stopping, restarting, failed opens and the limits read from the edits.

#include "output/playback.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTimer>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "output/virtual_wave_device.h"
#include "tests/output/hang_guard.h"
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
        // Outside the 16-bit codes: the server took the connection and then
        // said nothing.
        {kServerNoAnswer, "en_US", "Error opening waveform audio.\rThe sound server did not answer."},
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

// --- The state machine ---------------------------------------------------------------

using S = PlaybackState;

// A fresh playback on its own virtual device, with the ways to reach each
// state and to fire each event of the transition table.
struct Walk {
    VirtualWaveDevice device;
    PlaybackRig rig{device};
    Playback& playback = rig.playback;

    void Start(speeds speed) {
        rig.gen.speed = speed;
        playback.btnStartClick();
    }
    void Play(int chunks) {
        for (int k = 0; k < chunks; ++k) {
            device.Advance(kChunkFrames);
            rig.Deliver();
        }
    }
    // Hands over what the device has posted so far, but not what the
    // handlers post in turn.
    static void DeliverPosted() { QCoreApplication::sendPostedEvents(); }

    // The state an event found and the state it left.
    std::pair<S, S> Direct(const std::function<void()>& event) {
        const S before = playback.state();
        event();
        return {before, playback.state()};
    }
    // A stop handles its notifications inside its wait: the state after the
    // stop itself is the one its first notification finds.
    std::pair<S, S> AfterStop(const std::function<void()>& stop) {
        const S before = playback.state();
        const std::size_t first = rig.log.arrivals.size();
        stop();
        EXPECT_GT(rig.log.arrivals.size(), first);
        return {before, rig.log.arrivals.size() > first ? rig.log.arrivals[first].state : playback.state()};
    }
    // The k-th notification handled inside a stop's wait: the state it
    // found, and the one the next notification found (or the state after
    // the stop).
    std::pair<S, S> InStop(const std::function<void()>& stop, std::size_t k, const char* notification) {
        const std::size_t first = rig.log.arrivals.size();
        stop();
        const auto& arrivals = rig.log.arrivals;
        if (arrivals.size() <= first + k) {
            ADD_FAILURE() << "only " << arrivals.size() - first << " notifications in the stop";
            return {playback.state(), playback.state()};
        }
        EXPECT_STREQ(arrivals[first + k].notification, notification);
        return {arrivals[first + k].state,
                first + k + 1 < arrivals.size() ? arrivals[first + k + 1].state : playback.state()};
    }
};

// Every row of playback's transition table on the virtual device, and the
// rows the table leaves to the implementation: a stop before the open
// notification, a device that goes away, a start while a close is on its
// way. Each row gets a fresh playback, is brought into its state, fires its
// event and checks the state found and the state left.
TEST(PlaybackStates, EveryRowOfTheTransitionTable) {
    struct Row {
        S from;
        const char* event;
        S to;
        std::function<std::pair<S, S>(Walk&)> run;
    };
    const auto click = [](Walk& w) { return [&w] { w.playback.btnStartClick(); }; };
    const Row rows[] = {
        {S::Idle, "Start pressed, open succeeds", S::Opened, [&](Walk& w) { return w.Direct(click(w)); }},
        {S::Idle, "Start pressed, open fails", S::Idle,
         [&](Walk& w) {
             w.device.FailOpens(MMSYSERR_ALLOCATED);
             return w.Direct(click(w));
         }},
        {S::Opened, "MM_WOM_OPEN, looping kind", S::Looping,
         [](Walk& w) {
             w.Start(speeds::fast_smooth);
             return w.Direct(Walk::DeliverPosted);
         }},
        {S::Opened, "MM_WOM_OPEN, streamed kind", S::Streaming,
         [](Walk& w) {
             w.Start(speeds::manual);
             return w.Direct(Walk::DeliverPosted);
         }},
        {S::Streaming, "MM_WOM_DONE, refill", S::Streaming,
         [](Walk& w) {
             w.Start(speeds::manual);
             w.rig.Deliver();
             return w.Direct([&w] { w.Play(1); });
         }},
        {S::Streaming, "MM_WOM_DONE queueing a slow sweep's last chunk", S::Draining,
         [](Walk& w) {
             w.Start(speeds::slow);
             w.rig.Deliver();
             w.Play(177);
             return w.Direct([&w] { w.Play(1); });
         }},
        {S::Draining, "MM_WOM_DONE, chunks still playing", S::Draining,
         [](Walk& w) {
             w.Start(speeds::slow);
             w.rig.Deliver();
             w.Play(178);
             return w.Direct([&w] { w.Play(1); });
         }},
        {S::Draining, "MM_WOM_DONE, every chunk played", S::Closing,
         [](Walk& w) {
             w.Start(speeds::slow);
             w.rig.Deliver();
             w.Play(179);
             return w.Direct([&w] {
                 w.device.Advance(kChunkFrames);
                 Walk::DeliverPosted();
             });
         }},
        {S::Looping, "Start pressed again", S::Stopping,
         [&](Walk& w) {
             w.Start(speeds::fast_stepped);
             w.rig.Deliver();
             return w.AfterStop(click(w));
         }},
        {S::Streaming, "Exit", S::Stopping,
         [](Walk& w) {
             w.Start(speeds::manual);
             w.rig.Deliver();
             return w.AfterStop([&w] { w.playback.btnExitClick(); });
         }},
        {S::Draining, "window close", S::Stopping,
         [](Walk& w) {
             w.Start(speeds::slow);
             w.rig.Deliver();
             w.Play(178);
             return w.AfterStop([&w] { w.playback.FormCloseQuery(); });
         }},
        {S::Streaming, "RestartIfRunning", S::Stopping,
         [](Walk& w) {
             w.Start(speeds::no_sweep);
             w.rig.Deliver();
             return w.AfterStop([&w] { w.playback.RestartIfRunning(); });
         }},
        {S::Stopping, "MM_WOM_DONE", S::Closing,
         [&](Walk& w) {
             w.Start(speeds::manual);
             w.rig.Deliver();
             return w.InStop(click(w), 0, "done");
         }},
        {S::Closing, "a further MM_WOM_DONE already queued", S::Closing,
         [&](Walk& w) {
             w.Start(speeds::manual);
             w.rig.Deliver();
             return w.InStop(click(w), 1, "done");
         }},
        {S::Closing, "MM_WOM_CLOSE", S::Idle,
         [&](Walk& w) {
             w.Start(speeds::manual);
             w.rig.Deliver();
             return w.InStop(click(w), 2, "close");
         }},
        {S::Closing, "MM_WOM_CLOSE after a sweep ended by itself", S::Idle,
         [](Walk& w) {
             w.Start(speeds::slow);
             w.rig.Deliver();
             w.Play(179);
             w.device.Advance(kChunkFrames);
             Walk::DeliverPosted();
             return w.Direct(Walk::DeliverPosted);
         }},
        // Beyond the table.
        {S::Opened, "Start pressed again before MM_WOM_OPEN", S::Stopping,
         [&](Walk& w) {
             w.Start(speeds::manual);
             return w.AfterStop(click(w));
         }},
        {S::Stopping, "MM_WOM_OPEN after the stop", S::Closing,
         [&](Walk& w) {
             w.Start(speeds::manual);
             return w.InStop(click(w), 0, "open");
         }},
        {S::Streaming, "MM_WOM_CLOSE without our close (server gone)", S::Idle,
         [](Walk& w) {
             w.Start(speeds::manual);
             w.rig.Deliver();
             return w.Direct([&w] {
                 w.device.LoseDevice();
                 w.rig.Deliver();
             });
         }},
        {S::Closing, "Start pressed while the close is on its way", S::Closing,
         [&](Walk& w) {
             w.Start(speeds::slow);
             w.rig.Deliver();
             w.Play(179);
             w.device.Advance(kChunkFrames);
             Walk::DeliverPosted();
             return w.Direct(click(w));
         }},
        {S::Closing, "MM_WOM_CLOSE with a start pending", S::Opened,
         [&](Walk& w) {
             w.Start(speeds::slow);
             w.rig.Deliver();
             w.Play(179);
             w.device.Advance(kChunkFrames);
             Walk::DeliverPosted();
             w.playback.btnStartClick();
             return w.Direct(Walk::DeliverPosted);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(ToString(row.from)) + ", " + row.event);
        Walk w;
        const auto [before, after] = row.run(w);
        EXPECT_STREQ(ToString(before), ToString(row.from));
        EXPECT_STREQ(ToString(after), ToString(row.to));
        // The flags the engine and the handlers read agree with the state.
        const S now = w.playback.state();
        const bool playing = now == S::Opened || now == S::Looping || now == S::Streaming || now == S::Draining;
        EXPECT_EQ(w.rig.gen.sweep_running, playing);
        EXPECT_EQ(w.rig.gen.hWave_out == 0, now == S::Idle);
        if (now == S::Stopping || now == S::Closing) {
            EXPECT_TRUE(w.rig.gen.shutoff);
        }
        if (now == S::Looping || now == S::Streaming || now == S::Draining) {
            EXPECT_FALSE(w.rig.gen.shutoff);
        }
        EXPECT_EQ(w.rig.gen.closed, now == S::Idle && w.rig.log.seen.find("close") != std::string::npos);
        if (now == S::Streaming || now == S::Draining) {
            EXPECT_EQ(w.rig.gen.all_written, now == S::Draining);
        }
    }
}

// What reaches playback while a stop waits for its close: a shortcut's
// delayed click, the level timer or a selection handler (a restart), a
// second click. None of it may open or close a device inside the wait; it is
// remembered and made once afterwards, and the end state is consistent:
// one device or none, with caption and controls to match. The device holds
// its close back until the requests have arrived, so each lands inside the
// wait.
TEST(PlaybackWait, RequestsDuringTheWaitForACloseAreMadeOnceAfterIt) {
    enum Request { click, restart, start, stop };
    const struct {
        const char* name;
        Request outer;  // what runs the wait; `start` stands for Exit here
        std::vector<Request> inner;
        bool running_after;
    } cases[] = {
        {"stop alone", click, {}, false},
        {"stop, then a delayed click", click, {click}, true},
        {"stop, then two clicks", click, {click, click}, false},
        {"stop, then the level timer's restart", click, {restart}, false},
        {"stop, then a click and two restarts", click, {click, restart, restart}, true},
        {"restart alone", restart, {}, true},
        // The hang once seen: Alt+S's click arriving inside a speed change's restart.
        {"restart, then a delayed click", restart, {click}, false},
        {"restart, then a restart and a start", restart, {restart, start}, true},
        {"restart, then two clicks", restart, {click, click}, true},
        {"restart, then a stop", restart, {stop}, false},
        {"exit, then a delayed click", start, {click}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const testing_support::HangGuard guard(std::chrono::seconds(20), c.name);
        VirtualWaveDevice device;
        PlaybackRig rig(device);
        Playback& playback = rig.playback;
        const auto run = [&](Request r) {
            switch (r) {
            case click: playback.btnStartClick(); break;
            case restart: playback.RestartIfRunning(); break;
            case start: playback.StartOutput(); break;
            case stop: playback.StopOutput(); break;
            }
        };
        const auto opens = [&] { return std::count(device.calls().begin(), device.calls().end(), "open"); };
        rig.gen.speed = speeds::manual;
        playback.btnStartClick();
        rig.Deliver();
        ASSERT_EQ(playback.state(), S::Streaming);

        device.HoldCloses(true);
        std::vector<S> found;  // the state each inner request found
        QTimer::singleShot(0, [&] {
            for (const Request r : c.inner) {
                found.push_back(playback.state());
                run(r);
            }
        });
        long opens_in_wait = -1;
        QTimer release;
        QObject::connect(&release, &QTimer::timeout, [&] {
            if (device.held_closes() > 0) {
                opens_in_wait = opens();
                device.ReleaseCloses();
            }
        });
        release.start(1);
        if (c.outer == start) {
            playback.btnExitClick();
        } else {
            run(c.outer);
        }
        release.stop();
        device.HoldCloses(false);
        rig.Deliver();

        EXPECT_EQ(found.size(), c.inner.size());
        for (const S s : found) EXPECT_TRUE(s == S::Stopping || s == S::Closing) << ToString(s);
        EXPECT_EQ(opens_in_wait, 1) << "a device was opened inside the wait";
        EXPECT_EQ(opens(), c.running_after ? 2 : 1);
        EXPECT_EQ(device.is_open(), c.running_after);
        EXPECT_STREQ(ToString(playback.state()), ToString(c.running_after ? S::Streaming : S::Idle));
        EXPECT_EQ(rig.gen.sweep_running, c.running_after);
        EXPECT_FALSE(playback.start_pending());
        EXPECT_EQ(rig.view.caption, c.running_after ? "&STOP" : "&Start");
        EXPECT_EQ(rig.view.AnyControlDisabled(), c.running_after);
        EXPECT_EQ(rig.view.fnow_visible, c.running_after);
        EXPECT_TRUE(rig.view.warnings.empty());
        EXPECT_EQ(rig.view.close_window_calls, c.outer == start ? 1 : 0);
        playback.StopOutput();
    }
}

// A device that does not confirm its close (a sound server that stopped
// answering): the stop gives up after its time limit and leaves playback
// idle; the late close is ignored, and the next Start opens afresh.
TEST(PlaybackWait, AStopWhoseCloseNeverComesGivesUpAfterTheTimeLimit) {
    VirtualWaveDevice device;
    PlaybackRig rig(device);
    rig.playback.set_close_timeout(std::chrono::milliseconds(50));
    rig.gen.speed = speeds::no_sweep;
    rig.playback.btnStartClick();
    rig.Deliver();
    device.HoldCloses(true);

    rig.playback.btnStartClick();
    EXPECT_EQ(device.held_closes(), 1u);
    EXPECT_EQ(rig.playback.state(), S::Idle);
    EXPECT_FALSE(rig.gen.sweep_running);
    EXPECT_EQ(rig.gen.hWave_out, 0);
    EXPECT_EQ(rig.view.caption, "&Start");
    EXPECT_FALSE(rig.view.AnyControlDisabled());

    device.HoldCloses(false);
    device.ReleaseCloses();
    rig.Deliver();
    EXPECT_EQ(rig.playback.state(), S::Idle);
    EXPECT_TRUE(rig.view.warnings.empty());

    rig.playback.btnStartClick();
    rig.Deliver();
    EXPECT_EQ(rig.playback.state(), S::Streaming);
    EXPECT_TRUE(device.is_open());
}

// The user hears the sound stop; when it was not their doing (the device
// closed while it played), they are told once. Closes of our own say nothing.
TEST(PlaybackWait, OnlyADeviceLostWhilePlayingIsReported) {
    const std::string server_gone = "Output stopped.\rThe sound server closed the connection.";
    const std::string output_gone = "Output stopped.\rThe output device went away.";
    const auto lose = [](LossCause cause) { return [cause](Walk& w) { w.device.LoseDevice(cause); }; };
    const struct {
        const char* name;
        speeds speed;
        int chunks;  // played before the event
        std::function<void(Walk&)> event;
        std::string reported;  // empty: nothing
    } cases[] = {
        {"lost while looping", speeds::fast_smooth, 1, lose(LossCause::ServerGone), server_gone},
        {"lost while streaming", speeds::manual, 3, lose(LossCause::ServerGone), server_gone},
        {"lost while draining", speeds::slow, 179, lose(LossCause::ServerGone), server_gone},
        {"lost before the open notification", speeds::manual, -1, lose(LossCause::ServerGone), server_gone},
        {"output removed while streaming", speeds::manual, 3, lose(LossCause::DeviceGone), output_gone},
        {"output removed while draining", speeds::slow, 179, lose(LossCause::DeviceGone), output_gone},
        {"stopped", speeds::manual, 3, [](Walk& w) { w.playback.btnStartClick(); }, ""},
        {"restarted", speeds::fast_stepped, 1, [](Walk& w) { w.playback.RestartIfRunning(); }, ""},
        {"exit", speeds::no_sweep, 1, [](Walk& w) { w.playback.btnExitClick(); }, ""},
        {"slow sweep ended", speeds::slow, 180, [](Walk&) {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Walk w;
        w.Start(c.speed);
        if (c.chunks >= 0) {
            w.rig.Deliver();
            w.Play(c.chunks);
        }
        c.event(w);
        w.rig.Deliver();
        if (!c.reported.empty()) {
            EXPECT_THAT(w.rig.view.warnings, ElementsAre(c.reported));
            EXPECT_EQ(w.playback.state(), S::Idle);
            EXPECT_EQ(w.rig.view.caption, "&Start");
            EXPECT_FALSE(w.rig.view.AnyControlDisabled());
        } else {
            EXPECT_TRUE(w.rig.view.warnings.empty());
        }
    }
}

}  // namespace
}  // namespace quorvex
