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

// What each kind of stop yields: the stop itself only resets; the first
// done notification unprepares both headers while the device is still open
// and closes it; every call is made once, and the close notification ends
// the playback.
TEST_F(PlaybackTest, StopResetsUnpreparesAndClosesOnceThenTheCloseEndsIt) {
    const struct {
        speeds speed;
        const char* notifications;
    } cases[] = {
        {speeds::fast_stepped, "open done close "},
        {speeds::manual, "open done done close "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.speed == speeds::manual ? "streamed" : "looping");
        VirtualWaveDevice device;
        PlaybackRig rig(device);
        rig.gen.speed = c.speed;
        rig.playback.btnStartClick();
        rig.Deliver();
        device.Advance(1000);
        const std::size_t calls_before = device.calls().size();

        rig.playback.btnStartClick();
        EXPECT_EQ(rig.playback.state(), PlaybackState::Stopping);  // returns at once
        EXPECT_EQ(rig.view.caption, "&STOP");
        rig.Deliver();

        EXPECT_EQ(rig.playback.state(), PlaybackState::Idle);
        EXPECT_TRUE(rig.gen.closed);
        EXPECT_FALSE(device.is_open());
        EXPECT_EQ(rig.log.seen, c.notifications);
        EXPECT_THAT(std::vector<std::string>(device.calls().begin() + static_cast<std::ptrdiff_t>(calls_before),
                                             device.calls().end()),
                    ElementsAre("reset", "unprepare", "unprepare", "close"));
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
    // The device is told when the last chunk is queued, and ended once.
    const auto& calls = device.calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "end"), 1);
    EXPECT_THAT(std::vector<std::string>(calls.end() - 4, calls.end()),
                ElementsAre("reset", "unprepare", "unprepare", "close"));
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
    rig.Deliver();
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
        EXPECT_FALSE(rig.gen.all_written());
    }
}

TEST_F(PlaybackTest, ManualOutputNeverEndsByItself) {
    gen.speed = speeds::manual;
    rig.playback.StartOutput();
    rig.Deliver();
    for (int k = 0; k < 200; ++k) PlayChunk();
    EXPECT_TRUE(gen.sweep_running);
    EXPECT_FALSE(gen.all_written());
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
    EXPECT_EQ(rig.playback.state(), PlaybackState::StoppingThenStart);
    EXPECT_EQ(gen.f_min, 20);  // read only once the old device has closed
    QCoreApplication::sendPostedEvents();  // the reset's two done notifications
    EXPECT_EQ(rig.playback.state(), PlaybackState::ClosingThenStart);
    QCoreApplication::sendPostedEvents();  // the close, then the fresh open
    EXPECT_EQ(rig.playback.state(), PlaybackState::Opened);
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
        rig.Deliver();
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

// Exit, the window's close request and its destruction close the device at
// once, whatever the server does: nothing is waited for, a start waiting for
// a close is dropped, and what the old device posts later is ignored.
TEST(PlaybackShutdown, ExitCloseRequestAndDestructionCloseTheDeviceAtOnce) {
    const struct {
        const char* name;
        bool restarting;  // a restart is waiting for the old device's close
        std::function<void(Playback&)> event;
        int window_closes;
    } cases[] = {
        {"exit", false, [](Playback& p) { p.btnExitClick(); }, 1},
        {"close request", false, [](Playback& p) { p.FormCloseQuery(); }, 0},
        {"destruction", false, [](Playback& p) { p.FormDestroy(); }, 0},
        {"exit during a restart", true, [](Playback& p) { p.btnExitClick(); }, 1},
        {"close request during a restart", true, [](Playback& p) { p.FormCloseQuery(); }, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualWaveDevice device;
        PlaybackRig rig(device);
        rig.gen.speed = speeds::no_sweep;
        rig.playback.StartOutput();
        rig.Deliver();
        device.HoldCloses(true);  // the server never confirms
        if (c.restarting) {
            rig.playback.RestartIfRunning();
            rig.Deliver();
            ASSERT_EQ(rig.playback.state(), PlaybackState::ClosingThenStart);
        }

        c.event(rig.playback);

        EXPECT_FALSE(device.is_open());
        EXPECT_EQ(rig.playback.state(), PlaybackState::Idle);
        EXPECT_TRUE(rig.gen.shutoff);
        EXPECT_EQ(rig.gen.hWave_out, 0);
        EXPECT_EQ(rig.view.caption, "&Start");
        EXPECT_FALSE(rig.view.AnyControlDisabled());
        EXPECT_EQ(rig.view.close_window_calls, c.window_closes);
        const auto& calls = device.calls();
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "close"), 1);
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "unprepare"), 2);

        device.ReleaseCloses();
        rig.Deliver();
        EXPECT_EQ(rig.playback.state(), PlaybackState::Idle);
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "open"), 1);
        EXPECT_TRUE(rig.view.warnings.empty());
    }
}

TEST_F(PlaybackTest, MarkerBoxComesBackOnlyWhenItsLabelIsEnabled) {
    for (const bool label_enabled : {false, true}) {
        VirtualWaveDevice device;
        PlaybackRig rig(device);
        rig.view.enabled[PlaybackControl::lblLastMarker] = label_enabled;
        rig.playback.StartOutput();
        rig.Deliver();
        rig.playback.StopOutput();
        rig.Deliver();
        EXPECT_EQ(rig.view.IsControlEnabled(PlaybackControl::chkOctaveMarker), label_enabled);
        EXPECT_TRUE(rig.view.IsControlEnabled(PlaybackControl::grpOctaveMarkers));
        EXPECT_TRUE(rig.view.IsControlEnabled(PlaybackControl::edtF2));
    }
}

// --- The state machine ---------------------------------------------------------------

using S = PlaybackState;

bool IsPlaying(S s) { return s == S::Opened || s == S::Looping || s == S::Streaming || s == S::Draining; }
bool IsEnding(S s) { return s == S::Stopping || s == S::Closing || s == S::StoppingThenStart || s == S::ClosingThenStart; }

// Runs the event loop (timers included) until `done` or a hang.
void RunUntil(const std::function<bool()>& done) {
    const testing_support::HangGuard guard(std::chrono::seconds(20), "waiting for playback");
    while (!done()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

// A fresh playback on its own virtual device, with the ways to reach each
// state and to fire each event of the transition table.
struct Walk {
    VirtualWaveDevice device;
    PlaybackRig rig{device};
    Playback& playback = rig.playback;
    // Installed on playback, keeps every done notification from it.
    struct DoneSwallower : QObject {
        bool eventFilter(QObject*, QEvent* event) override { return event->type() == MM_WOM_DONE; }
    } no_dones;

    void Start(speeds speed) {
        rig.gen.speed = speed;
        playback.btnStartClick();
    }
    // The device goes away by itself, as when the sound server does.
    void Lose() {
        device.LoseDevice();
        lost = true;
    }
    bool lost = false;
    void Play(int chunks) {
        for (int k = 0; k < chunks; ++k) {
            device.Advance(kChunkFrames);
            rig.Deliver();
        }
    }
    // A slow sweep whose last done notification has been handled: its close
    // is on its way.
    void EndSlowSweep() {
        Start(speeds::slow);
        rig.Deliver();
        Play(179);
        device.Advance(kChunkFrames);
        DeliverPosted();
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
    // After `stop`, the k-th notification handled: the state it found, and
    // the one the next notification found (or the state at the end).
    std::pair<S, S> InStop(const std::function<void()>& stop, std::size_t k, const char* notification) {
        const std::size_t first = rig.log.arrivals.size();
        stop();
        rig.Deliver();
        const auto& arrivals = rig.log.arrivals;
        if (arrivals.size() <= first + k) {
            ADD_FAILURE() << "only " << arrivals.size() - first << " notifications after the stop";
            return {playback.state(), playback.state()};
        }
        EXPECT_STREQ(arrivals[first + k].notification, notification);
        return {arrivals[first + k].state,
                first + k + 1 < arrivals.size() ? arrivals[first + k + 1].state : playback.state()};
    }
};

// Every row of playback's transition table on the virtual device, and the
// rows the table leaves to the implementation: a stop before the open
// notification, a device that goes away, a start asked for while a close is
// on its way, a close that never comes. Each row gets a fresh playback, is
// brought into its state, fires its event and checks the state found and the
// state left.
TEST(PlaybackStates, EveryRowOfTheTransitionTable) {
    struct Row {
        S from;
        const char* event;
        S to;
        std::function<std::pair<S, S>(Walk&)> run;
    };
    const auto click = [](Walk& w) { return [&w] { w.playback.btnStartClick(); }; };
    const auto restart = [](Walk& w) { return [&w] { w.playback.RestartIfRunning(); }; };
    const auto overdue = [](Walk& w) {
        return [&w] { RunUntil([&w] { return !IsEnding(w.playback.state()); }); };
    };
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
             return w.Direct(click(w));
         }},
        {S::Draining, "StopOutput", S::Stopping,
         [](Walk& w) {
             w.Start(speeds::slow);
             w.rig.Deliver();
             w.Play(178);
             return w.Direct([&w] { w.playback.StopOutput(); });
         }},
        {S::Streaming, "RestartIfRunning", S::StoppingThenStart,
         [&](Walk& w) {
             w.Start(speeds::no_sweep);
             w.rig.Deliver();
             return w.Direct(restart(w));
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
             w.EndSlowSweep();
             return w.Direct(Walk::DeliverPosted);
         }},
        // Beyond the table: a stop before the open notification.
        {S::Opened, "Start pressed again before MM_WOM_OPEN", S::Stopping,
         [&](Walk& w) {
             w.Start(speeds::manual);
             return w.Direct(click(w));
         }},
        {S::Stopping, "MM_WOM_OPEN after the stop", S::Closing,
         [&](Walk& w) {
             w.Start(speeds::manual);
             return w.InStop(click(w), 0, "open");
         }},
        // A device that goes away by itself.
        {S::Streaming, "MM_WOM_CLOSE without our close (server gone)", S::Idle,
         [](Walk& w) {
             w.Start(speeds::manual);
             w.rig.Deliver();
             return w.Direct([&w] {
                 w.Lose();
                 w.rig.Deliver();
             });
         }},
        {S::Draining, "MM_WOM_DONE, every chunk back from a device gone by itself", S::Draining,
         [](Walk& w) {
             w.Start(speeds::slow);
             w.rig.Deliver();
             w.Play(179);
             w.Lose();
             return w.Direct([&w] { QCoreApplication::sendPostedEvents(&w.playback, MM_WOM_DONE); });
         }},
        {S::Draining, "MM_WOM_CLOSE of a device gone by itself", S::Idle,
         [](Walk& w) {
             w.Start(speeds::slow);
             w.rig.Deliver();
             w.Play(179);
             w.Lose();
             QCoreApplication::sendPostedEvents(&w.playback, MM_WOM_DONE);
             return w.Direct(Walk::DeliverPosted);
         }},
        // A start asked for while a close is on its way waits in the state,
        // is made by the close, and a second click cancels it.
        {S::Stopping, "Start pressed", S::StoppingThenStart,
         [&](Walk& w) {
             w.Start(speeds::manual);
             w.rig.Deliver();
             w.playback.StopOutput();
             return w.Direct(click(w));
         }},
        {S::StoppingThenStart, "Start pressed (cancels the start)", S::Stopping,
         [&](Walk& w) {
             w.Start(speeds::manual);
             w.rig.Deliver();
             w.playback.RestartIfRunning();
             return w.Direct(click(w));
         }},
        {S::StoppingThenStart, "RestartIfRunning (asked for already)", S::StoppingThenStart,
         [&](Walk& w) {
             w.Start(speeds::manual);
             w.rig.Deliver();
             w.playback.RestartIfRunning();
             return w.Direct(restart(w));
         }},
        {S::StoppingThenStart, "MM_WOM_DONE", S::ClosingThenStart,
         [&](Walk& w) {
             w.Start(speeds::manual);
             w.rig.Deliver();
             return w.InStop(restart(w), 0, "done");
         }},
        {S::Closing, "Start pressed while the close is on its way", S::ClosingThenStart,
         [&](Walk& w) {
             w.EndSlowSweep();
             return w.Direct(click(w));
         }},
        {S::Closing, "RestartIfRunning while the close is on its way", S::Closing,
         [&](Walk& w) {
             w.EndSlowSweep();
             return w.Direct(restart(w));
         }},
        {S::ClosingThenStart, "Start pressed (cancels the start)", S::Closing,
         [&](Walk& w) {
             w.EndSlowSweep();
             w.playback.btnStartClick();
             return w.Direct(click(w));
         }},
        {S::ClosingThenStart, "MM_WOM_CLOSE", S::Opened,
         [&](Walk& w) {
             w.EndSlowSweep();
             w.playback.btnStartClick();
             return w.Direct(Walk::DeliverPosted);
         }},
        {S::ClosingThenStart, "MM_WOM_CLOSE of a device gone by itself", S::Opened,
         [&](Walk& w) {
             w.Start(speeds::manual);
             w.rig.Deliver();
             w.Lose();  // its done and close notifications are queued
             return w.InStop(restart(w), 2, "close");
         }},
        // A close that never comes: after the time limit the device is dropped.
        {S::Stopping, "no MM_WOM_DONE within the time limit", S::Idle,
         [&](Walk& w) {
             w.Start(speeds::manual);
             w.rig.Deliver();
             w.playback.set_close_timeout(std::chrono::milliseconds(1));
             w.playback.installEventFilter(&w.no_dones);  // a device that keeps its headers
             w.playback.StopOutput();
             return w.Direct(overdue(w));
         }},
        {S::Closing, "no MM_WOM_CLOSE within the time limit", S::Idle,
         [&](Walk& w) {
             w.Start(speeds::manual);
             w.rig.Deliver();
             w.playback.set_close_timeout(std::chrono::milliseconds(1));
             w.device.HoldCloses(true);
             w.playback.StopOutput();
             Walk::DeliverPosted();
             return w.Direct(overdue(w));
         }},
        {S::ClosingThenStart, "no MM_WOM_CLOSE within the time limit", S::Opened,
         [&](Walk& w) {
             w.Start(speeds::manual);
             w.rig.Deliver();
             w.playback.set_close_timeout(std::chrono::milliseconds(1));
             w.device.HoldCloses(true);
             w.playback.RestartIfRunning();
             Walk::DeliverPosted();
             // The state the new device's open notification finds.
             const std::size_t first = w.rig.log.arrivals.size();
             const S before = w.playback.state();
             overdue(w)();
             return std::pair{before, w.rig.log.arrivals.size() > first ? w.rig.log.arrivals[first].state
                                                                        : w.playback.state()};
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
        const bool played = now != S::Idle || !w.rig.log.seen.empty();
        EXPECT_EQ(w.rig.gen.sweep_running, IsPlaying(now));
        EXPECT_EQ(w.rig.gen.hWave_out == 0, now == S::Idle);
        EXPECT_EQ(w.rig.gen.closed, now == S::Idle && played);
        if (played) {
            EXPECT_EQ(w.rig.gen.shutoff, !IsPlaying(now));
        }
        if (now == S::Streaming || now == S::Draining) {
            EXPECT_EQ(w.rig.gen.all_written(), now == S::Draining);
        }
        // A device is open exactly while playback holds one it has not closed.
        if (!w.lost) {
            EXPECT_EQ(w.device.is_open(), IsPlaying(now) || now == S::Stopping || now == S::StoppingThenStart);
        }
    }
}

// A loss is told once, by the lost device's close notification, and leaves
// nothing behind: once idle, the next click starts (a start left waiting
// would make it a cancel instead), and the lost device's late notifications
// do not disturb the new playback.
TEST(PlaybackStates, AfterALossTheNextClickStarts) {
    const std::string lost = "Output stopped.\rThe sound server closed the connection.";
    enum Clicks {
        none,                // none until every notification of the loss has been handled
        between_done_close,  // one after the loss's done notifications, before its close
        stop_and_start,      // two before any of them: a stop, then a start
    };
    const struct {
        const char* name;
        speeds speed;
        int chunks;  // played before the loss
        Clicks clicks;
        bool told;
    } cases[] = {
        {"lost while streaming", speeds::manual, 3, none, true},
        {"lost as a slow sweep plays out", speeds::slow, 179, none, true},
        // The click reads "&STOP" and stops: the user's own stop says nothing.
        {"lost as a slow sweep plays out, Stop pressed before the close", speeds::slow, 179, between_done_close, false},
        {"lost while streaming, stopped and started again", speeds::manual, 3, stop_and_start, false},
        {"lost as a slow sweep plays out, stopped and started again", speeds::slow, 179, stop_and_start, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Walk w;
        w.Start(c.speed);
        w.rig.Deliver();
        w.Play(c.chunks);
        w.device.LoseDevice();
        if (c.clicks == between_done_close) {
            QCoreApplication::sendPostedEvents(&w.playback, MM_WOM_DONE);
            EXPECT_EQ(w.rig.view.caption, "&STOP");
            w.playback.btnStartClick();
        } else if (c.clicks == stop_and_start) {
            w.playback.btnStartClick();
            w.playback.btnStartClick();
        }
        w.rig.Deliver();
        EXPECT_EQ(w.rig.view.warnings, std::vector<std::string>(c.told ? 1 : 0, lost));
        if (c.clicks != stop_and_start) {
            ASSERT_EQ(w.playback.state(), S::Idle);
            EXPECT_EQ(w.rig.view.caption, "&Start");
            w.playback.btnStartClick();
            EXPECT_EQ(w.playback.state(), S::Opened);
            w.rig.Deliver();
        }
        EXPECT_EQ(w.playback.state(), S::Streaming);
        EXPECT_TRUE(w.device.is_open());
        EXPECT_EQ(w.rig.view.caption, "&STOP");
    }
}

// What reaches playback while a stop waits for its close: a shortcut's
// delayed click, the level timer or a selection handler (a restart), a
// second click. None of it opens or closes a device before the close; a
// start is remembered in the state and made once afterwards, and the end
// state is consistent: one device or none, with caption and controls to
// match. The device holds its close back until the requests have arrived;
// each request comes while the stop's done notifications are on their way,
// or after them, while only the close is.
TEST(PlaybackWait, RequestsWhileACloseIsOnItsWayAreMadeOnceAfterIt) {
    enum Request { click, restart, start, stop };
    const struct {
        const char* name;
        Request outer;  // what starts the stop
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
    };
    for (const auto& c : cases) {
        for (const bool after_dones : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (after_dones ? ", after the done notifications" : ""));
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
            run(c.outer);
            if (after_dones) rig.Deliver();
            for (const Request r : c.inner) {
                EXPECT_TRUE(IsEnding(playback.state())) << ToString(playback.state());
                run(r);
            }
            rig.Deliver();
            EXPECT_EQ(opens(), 1) << "a device was opened before the close";
            device.HoldCloses(false);
            device.ReleaseCloses();
            rig.Deliver();

            EXPECT_EQ(opens(), c.running_after ? 2 : 1);
            EXPECT_EQ(device.is_open(), c.running_after);
            EXPECT_STREQ(ToString(playback.state()), ToString(c.running_after ? S::Streaming : S::Idle));
            EXPECT_EQ(rig.gen.sweep_running, c.running_after);
            EXPECT_EQ(rig.view.caption, c.running_after ? "&STOP" : "&Start");
            EXPECT_EQ(rig.view.AnyControlDisabled(), c.running_after);
            EXPECT_EQ(rig.view.fnow_visible, c.running_after);
            EXPECT_TRUE(rig.view.warnings.empty());
            playback.StopOutput();
            rig.Deliver();
        }
    }
}

// A device that does not confirm its close (a sound server that stopped
// answering): after the time limit playback drops it and is idle, or makes
// the start that waited; the late close is ignored, and the next Start opens
// afresh. Nothing blocks meanwhile: the stop itself returns at once.
TEST(PlaybackWait, ACloseThatNeverComesIsGivenUpAfterTheTimeLimit) {
    for (const bool restart : {false, true}) {
        SCOPED_TRACE(restart ? "restart" : "stop");
        VirtualWaveDevice device;
        PlaybackRig rig(device);
        rig.playback.set_close_timeout(std::chrono::milliseconds(50));
        rig.gen.speed = speeds::no_sweep;
        rig.playback.btnStartClick();
        rig.Deliver();
        device.HoldCloses(true);

        if (restart) {
            rig.playback.RestartIfRunning();
        } else {
            rig.playback.btnStartClick();
        }
        rig.Deliver();
        EXPECT_EQ(device.held_closes(), 1u);
        EXPECT_EQ(rig.view.caption, "&STOP");  // still on its way
        RunUntil([&] { return !IsEnding(rig.playback.state()); });
        EXPECT_EQ(rig.gen.sweep_running, restart);

        device.HoldCloses(false);
        device.ReleaseCloses();
        rig.Deliver();
        EXPECT_TRUE(rig.view.warnings.empty());
        if (!restart) {
            EXPECT_EQ(rig.playback.state(), S::Idle);
            EXPECT_EQ(rig.gen.hWave_out, 0);
            EXPECT_EQ(rig.view.caption, "&Start");
            EXPECT_FALSE(rig.view.AnyControlDisabled());
            rig.playback.btnStartClick();
            rig.Deliver();
        }
        EXPECT_EQ(rig.playback.state(), S::Streaming);
        EXPECT_TRUE(device.is_open());
        EXPECT_EQ(std::count(device.calls().begin(), device.calls().end(), "open"), 2);
    }
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
