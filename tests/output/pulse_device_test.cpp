// SPDX-License-Identifier: GPL-3.0-or-later
// The device layer on a real sound server: a private server with a null
// sink, whose monitor is recorded and searched for the samples played.

#include "output/pulse_wave_device.h"

#include <QDir>
#include <QElapsedTimer>
#include <cmath>
#include <cstdio>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "output/noise_player.h"
#include "output/playback.h"
#include "tests/output/device_test_support.h"
#include "tests/output/playback_rig.h"
#include "tests/output/pulse_recording.h"
#include "tests/output/pulse_server.h"

namespace quorvex {
namespace {

using testing_support::Find;
using testing_support::HeaderFor;
using testing_support::Noise;
using testing_support::Recorder;
using testing_support::StereoFormat;
using testing_support::PlaybackRig;
using testing_support::PrivatePulseServer;
using testing_support::WaitUntil;

class PulseDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.ok()) << server.error(); }
    // A test that failed half-way may leave headers queued: stop the stream
    // before anything it reads or posts to goes away.
    void TearDown() override {
        if (handle != 0) {
            device.waveOutReset(handle);
            device.waveOutClose(handle);
        }
    }

    // Opens the device with `recorder` as target and prepares the headers.
    void OpenAndPrepare(std::initializer_list<WAVEHDR*> headers) {
        ASSERT_EQ(device.waveOutOpen(&handle, kDefaultWaveDevice, StereoFormat(), &recorder), MMSYSERR_NOERROR);
        for (WAVEHDR* header : headers) device.waveOutPrepareHeader(handle, header);
    }

    PrivatePulseServer server;
    Recorder recorder;  // outlives the device, which posts to it
    PulseWaveDevice device;
    HWAVEOUT handle = 0;
};

TEST_F(PulseDeviceTest, HeadersArePlayedExactlyAndComeBackOnlyOncePlayed) {
    ASSERT_TRUE(server.StartRecording());
    std::vector<std::int16_t> first = Noise(13230, 1);  // 0.3 s
    std::vector<std::int16_t> second = Noise(8820, 2);  // 0.2 s
    WAVEHDR header1 = HeaderFor(first);
    WAVEHDR header2 = HeaderFor(second);
    ASSERT_NO_FATAL_FAILURE(OpenAndPrepare({&header1, &header2}));
    EXPECT_NE(handle, 0);
    EXPECT_EQ(recorder.Types(), "");  // posted, not delivered inside the open
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count(MM_WOM_OPEN) == 1; }, 2000));

    const qint64 start = recorder.clock.elapsed();
    device.waveOutWrite(handle, &header1);
    device.waveOutWrite(handle, &header2);
    device.waveOutEndOfStream(handle);
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count(MM_WOM_DONE) == 2; }, 3000));
    EXPECT_EQ(recorder.notes[1].header, &header1);
    EXPECT_EQ(recorder.notes[2].header, &header2);
    // Not before the frames could have been played: 0.3 s, then 0.5 s.
    EXPECT_GE(recorder.notes[1].at_ms - start, 280);
    EXPECT_GE(recorder.notes[2].at_ms - start, 480);
    EXPECT_TRUE(header2.dwFlags & WHDR_DONE);
    EXPECT_FALSE(header2.dwFlags & WHDR_INQUEUE);

    // The reset and close right after the last done notification cut nothing.
    device.waveOutReset(handle);
    device.waveOutClose(handle);
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count(MM_WOM_CLOSE) == 1; }, 2000));
    EXPECT_EQ(recorder.Types(), "open done done close ");

    std::vector<std::int16_t> both = first;
    both.insert(both.end(), second.begin(), second.end());
    const std::vector<std::int16_t> recording = server.StopRecording();
    const std::ptrdiff_t at = Find(recording, both);
    EXPECT_GE(at, 0) << "played samples not found in " << recording.size() << " recorded";
    EXPECT_EQ(at % 2, 0);

    // Harmless on the closed handle.
    EXPECT_EQ(device.waveOutReset(handle), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(device.waveOutClose(handle), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(device.waveOutUnprepareHeader(handle, &header1), MMSYSERR_INVALHANDLE);
    WaitUntil([] { return false; }, 50);
    EXPECT_EQ(recorder.Types(), "open done done close ");
}

TEST_F(PulseDeviceTest, ResetReturnsALoopingHeaderAndLaterWritesStillPlayInFull) {
    ASSERT_TRUE(server.StartRecording());
    std::vector<std::int16_t> loop = Noise(441, 3);
    std::vector<std::int16_t> after = Noise(4410, 4);
    WAVEHDR looping = HeaderFor(loop);
    looping.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
    looping.dwLoops = 0xFFFFFFFF;
    WAVEHDR tail = HeaderFor(after);
    ASSERT_NO_FATAL_FAILURE(OpenAndPrepare({&looping, &tail}));
    device.waveOutWrite(handle, &looping);
    // A looping header comes back only on reset.
    EXPECT_FALSE(WaitUntil([&] { return recorder.Count(MM_WOM_DONE) > 0; }, 300));
    device.waveOutReset(handle);
    EXPECT_TRUE(WaitUntil([&] { return recorder.Count(MM_WOM_DONE) == 1; }, 1000));

    device.waveOutWrite(handle, &tail);
    device.waveOutEndOfStream(handle);
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count(MM_WOM_DONE) == 2; }, 2000));
    EXPECT_EQ(recorder.notes.back().header, &tail);
    device.waveOutClose(handle);
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count(MM_WOM_CLOSE) == 1; }, 2000));

    const std::vector<std::int16_t> recording = server.StopRecording();
    std::vector<std::int16_t> three_loops = loop;
    for (int k = 0; k < 2; ++k) three_loops.insert(three_loops.end(), loop.begin(), loop.end());
    EXPECT_GE(Find(recording, three_loops), 0);  // repeated without a gap
    EXPECT_GE(Find(recording, after), 0);
}

// (What a loss returns and posts is in the device contract suite.) Once
// the server is gone, a later open reports it, and the lost stream's thread
// has been ended by then.
TEST_F(PulseDeviceTest, AfterLosingTheServerAnOpenReportsNoDriver) {
    std::vector<std::int16_t> samples = Noise(44100, 5);
    WAVEHDR header = HeaderFor(samples);
    ASSERT_NO_FATAL_FAILURE(OpenAndPrepare({&header}));
    device.waveOutWrite(handle, &header);
    const auto threads = [] { return QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(); };
    WaitUntil([] { return false; }, 100);
    const qsizetype threads_playing = threads();
    server.Kill();
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count(MM_WOM_CLOSE) == 1; }, 2000));
    // Once the close has been handed out, the dead stream's thread goes.
    EXPECT_TRUE(WaitUntil([&] { return threads() < threads_playing; }, 1000)) << threads() << " threads";

    HWAVEOUT again = 0;
    EXPECT_EQ(device.waveOutOpen(&again, kDefaultWaveDevice, StereoFormat(), &recorder), MMSYSERR_NODRIVER);
    EXPECT_EQ(again, 0);
}

TEST(PulseDeviceWithoutServer, OpenFailsAtOnceWithNoDriver) {
    QTemporaryDir empty;
    qputenv("XDG_RUNTIME_DIR", empty.path().toLocal8Bit());
    qputenv("PULSE_SERVER", ("unix:" + empty.path() + "/none").toLocal8Bit());
    PulseWaveDevice device;
    Recorder recorder;
    HWAVEOUT handle = 77;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(device.waveOutOpen(&handle, kDefaultWaveDevice, StereoFormat(), &recorder), MMSYSERR_NODRIVER);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(handle, 0);
    qunsetenv("PULSE_SERVER");
}

// The number after `key` in `text`, or -1.
long NumberAfter(const std::string& text, const std::string& key) {
    const std::size_t at = text.find(key);
    return at == std::string::npos ? -1 : std::stol(text.substr(at + key.size()));
}

// The server holds all a playback queues (two 250 ms chunks), so a busy
// moment of this process does not starve it, while the sink itself holds
// little (50 ms), so what still sounds after a reset is short and a refill
// may come late, and PipeWire runs 2048-frame cycles. Mixers find the
// program's name, desktop id and icon on the stream, and PipeWire resamples
// it with a converter that keeps the top octave.
TEST_F(PulseDeviceTest, StreamNamesItselfAndAsksForAModerateLatency) {
    std::vector<std::int16_t> samples = Noise(44100, 7);
    WAVEHDR header = HeaderFor(samples);
    ASSERT_NO_FATAL_FAILURE(OpenAndPrepare({&header}));
    device.waveOutWrite(handle, &header);
    WaitUntil([] { return false; }, 200);
    const std::string inputs = server.Pactl({"list", "sink-inputs"});
    EXPECT_THAT(inputs, testing::HasSubstr("application.name = \"Quorvex\""));
    EXPECT_THAT(inputs, testing::HasSubstr("application.id = \"org.quorvex.Quorvex\""));
    EXPECT_THAT(inputs, testing::HasSubstr("application.icon_name = \"org.quorvex.Quorvex\""));
    EXPECT_THAT(inputs, testing::HasSubstr("media.role = \"test\""));
    if (server.kind() == testing_support::ServerKind::pipewire) {
        // pipewire-pulse lists no latencies; the stream's requests show instead.
        EXPECT_THAT(inputs, testing::HasSubstr("node.latency = \"2205/44100\""));  // 50 ms: 2048-frame cycles
        EXPECT_THAT(inputs, testing::HasSubstr("resample.quality = \"10\""));
        EXPECT_GE(NumberAfter(inputs, "pulse.attr.tlength = \""), 44100) << "bytes";
    } else {
        EXPECT_GE(NumberAfter(inputs, "Buffer Latency: "), 250000) << "microseconds\n" << inputs;
        EXPECT_LE(NumberAfter(inputs, "Sink Latency: "), 60000) << "microseconds\n" << inputs;
    }
    device.waveOutReset(handle);
    device.waveOutClose(handle);
}

// A header written after the stream ran dry plays late but whole, and so
// does the end of the one before, which a server that plays in cycles kept
// back: every frame written sounds, in order, with only silence between.
// The break counts as one underrun, reported on stderr at the close; a
// header written while the one before still plays follows it without a
// break. Only the end of the stream asks the server to play out, once.
TEST_F(PulseDeviceTest, AfterRunningDryEveryFrameWrittenStillPlays) {
    ASSERT_TRUE(server.StartRecording());
    std::vector<std::int16_t> first = Noise(8820, 11);    // 0.2 s
    std::vector<std::int16_t> second = Noise(11025, 12);  // 0.25 s
    std::vector<std::int16_t> third = Noise(4410, 13);    // 0.1 s
    WAVEHDR header1 = HeaderFor(first);
    WAVEHDR header2 = HeaderFor(second);
    WAVEHDR header3 = HeaderFor(third);
    ASSERT_NO_FATAL_FAILURE(OpenAndPrepare({&header1, &header2, &header3}));
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count(MM_WOM_OPEN) == 1; }, 2000));

    device.waveOutWrite(handle, &header1);
    WaitUntil([] { return false; }, 500);  // played out (as far as the server plays), nothing follows
    device.waveOutWrite(handle, &header2);
    // Run dry, the server asks for all of it at once.
    EXPECT_EQ(device.BytesWritten(handle), (first.size() + second.size()) * 2);
    WaitUntil([] { return false; }, 100);
    device.waveOutWrite(handle, &header3);
    device.waveOutEndOfStream(handle);
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count(MM_WOM_DONE) == 3; }, 3000));
    EXPECT_EQ(recorder.Types(), "open done done done ");
    EXPECT_EQ(recorder.notes[1].header, &header1);
    EXPECT_EQ(recorder.notes[3].header, &header3);
    EXPECT_EQ(device.Underruns(handle), 1u);
    EXPECT_EQ(device.TotalDrains(), 1u);
    device.waveOutReset(handle);
    testing::internal::CaptureStderr();
    device.waveOutClose(handle);
    // A playback that ran dry says so as it ends, not only when lost.
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Quorvex: the sound server ran out of sound 1 time during this playback\n");
    EXPECT_EQ(device.TotalUnderruns(), 1u);

    std::vector<std::int16_t> all = first;
    all.insert(all.end(), second.begin(), second.end());
    all.insert(all.end(), third.begin(), third.end());
    const auto check = testing_support::CompareWithRender(server.StopRecording(), all);
    EXPECT_TRUE(check.found);
    EXPECT_EQ(check.differing + check.dropped + check.missing, 0u)
        << check.differing << " differing, " << check.dropped << " dropped, " << check.missing << " missing";
    EXPECT_GE(check.inserted, 4410u) << "the break of at least 300 ms";
    EXPECT_EQ(check.gaps, 1u);
}

// A header longer than the server holds goes over as far as the server
// asks, the rest from the device's own thread as it asks again (writing
// beyond what it asked for made PipeWire miss cycles under load), and
// plays whole.
TEST_F(PulseDeviceTest, AHeaderLongerThanTheServerHoldsIsWrittenAsItAsksAndPlaysWhole) {
    ASSERT_TRUE(server.StartRecording());
    std::vector<std::int16_t> samples = Noise(66150, 21);  // 1.5 s, three times what the server holds
    WAVEHDR header = HeaderFor(samples);
    ASSERT_NO_FATAL_FAILURE(OpenAndPrepare({&header}));
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count(MM_WOM_OPEN) == 1; }, 2000));

    device.waveOutWrite(handle, &header);
    EXPECT_LT(device.BytesWritten(handle), samples.size() * 2);
    device.waveOutEndOfStream(handle);
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count(MM_WOM_DONE) == 1; }, 5000));
    EXPECT_EQ(device.BytesWritten(handle), samples.size() * 2);
    device.waveOutClose(handle);
    handle = 0;

    // A busy machine may make the server put silence in; nothing written
    // may be lost or changed.
    const auto check = testing_support::CompareWithRender(server.StopRecording(), samples);
    EXPECT_TRUE(check.only_server_faults()) << check.differing << " differing, " << check.dropped << " dropped, "
                                            << check.missing << " missing, " << check.inserted << " of silence";
}

// A server that accepts connections but never answers (stopped with
// SIGSTOP): the open gives up within 2 s, leaving no thread behind, and a
// stream opened before the server stopped still resets and closes at once.
TEST_F(PulseDeviceTest, AServerThatDoesNotAnswerNeverHoldsACallUp) {
    std::vector<std::int16_t> samples = Noise(44100, 14);
    WAVEHDR header = HeaderFor(samples);
    ASSERT_NO_FATAL_FAILURE(OpenAndPrepare({&header}));
    device.waveOutWrite(handle, &header);
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count(MM_WOM_OPEN) == 1; }, 2000));
    const auto threads = [] { return QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(); };
    const qsizetype threads_before = threads();

    server.Freeze();
    QElapsedTimer clock;
    clock.start();
    HWAVEOUT second = 77;
    Recorder second_target;
    EXPECT_EQ(device.waveOutOpen(&second, kDefaultWaveDevice, StereoFormat(), &second_target), kServerNoAnswer);
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(threads(), threads_before);  // the failed open's loop thread is gone

    NoisePlayer noise;
    clock.restart();
    EXPECT_FALSE(noise.PlayWaveResource("WhiteNoise"));
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_FALSE(noise.playing());

    clock.restart();
    device.waveOutReset(handle);
    device.waveOutClose(handle);
    EXPECT_LT(clock.elapsed(), 500);
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count(MM_WOM_CLOSE) == 1; }, 1000));
    EXPECT_EQ(recorder.Types(), "open done close ");
    handle = 0;
    WaitUntil([] { return false; }, 50);
    EXPECT_EQ(second_target.Types(), "");
    server.Thaw();
}

TEST_F(PulseDeviceTest, RefusedOpensNameTheirCause) {
    WAVEFORMATEX eight_bit = StereoFormat();
    eight_bit.wBitsPerSample = 8;
    eight_bit.nBlockAlign = 2;
    eight_bit.nAvgBytesPerSec = 88200;
    EXPECT_EQ(device.waveOutOpen(&handle, kDefaultWaveDevice, eight_bit, &recorder), WAVERR_BADFORMAT);
    EXPECT_EQ(device.waveOutOpen(&handle, 1, StereoFormat(), &recorder), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(handle, 0);
    WaitUntil([] { return false; }, 50);
    EXPECT_EQ(recorder.Types(), "");
}

// Playback as the window runs it, on the real device.
TEST_F(PulseDeviceTest, PlaybackPlaysTheEngineRenderAndStopsPromptly) {
    ASSERT_TRUE(server.StartRecording());
    PlaybackRig rig(device);
    rig.gen.speed = speeds::no_sweep;
    rig.view.lower = "440";
    rig.playback.btnStartClick();
    ASSERT_TRUE(WaitUntil([&] { return rig.gen.buffers_played >= 3; }, 3000));
    QElapsedTimer clock;
    clock.start();
    rig.playback.btnStartClick();
    EXPECT_TRUE(WaitUntil([&] { return rig.gen.closed; }, 2000));
    EXPECT_LT(clock.elapsed(), 1000);  // closed promptly, even on a busy machine
    EXPECT_EQ(rig.view.caption, "&Start");

    const std::vector<std::int16_t> recording = server.StopRecording();
    EXPECT_GE(Find(recording, testing_support::EngineRender(rig.gen, 3)), 0);
}

TEST_F(PulseDeviceTest, PlaybackEndsWhenTheServerGoesAndThenReportsIt) {
    PlaybackRig rig(device);
    rig.gen.speed = speeds::manual;
    rig.playback.btnStartClick();
    ASSERT_TRUE(WaitUntil([&] { return rig.view.caption == "&STOP"; }, 2000));
    server.Kill();
    ASSERT_TRUE(WaitUntil([&] { return rig.gen.closed; }, 2000));
    EXPECT_FALSE(rig.gen.sweep_running);
    EXPECT_EQ(rig.view.caption, "&Start");

    rig.playback.StopOutput();  // comes straight back
    rig.playback.btnStartClick();
    EXPECT_THAT(rig.view.warnings, testing::ElementsAre("Output stopped.\rThe sound server closed the connection.",
                                                        "Error opening waveform audio.\rno device driver present"));
    EXPECT_FALSE(rig.gen.sweep_running);
}

}  // namespace
}  // namespace quorvex

namespace quorvex {
namespace {

// On a sink that runs at 48 kHz (most PipeWire desktops) the server
// converts the 44.1 kHz stream; the top of the sweep's range must keep its
// level there (within 0.5 dB). PipeWire takes the converter the stream asks
// for; PulseAudio uses the one its own configuration names for every
// stream, so its figure is only reported.
TEST(PulseDeviceResampling, TwentyKilohertzKeepsItsLevelOnA48kHzSink) {
    PrivatePulseServer server(testing_support::ServerKindFromEnvironment(), 48000);
    ASSERT_TRUE(server.ok()) << server.error();
    ASSERT_TRUE(server.StartRecording());
    constexpr double kAmplitude = 16384;
    std::vector<std::int16_t> tone(2 * 44100);
    for (std::size_t i = 0; i < tone.size(); ++i) {
        tone[i] = static_cast<std::int16_t>(std::lround(kAmplitude * std::sin(2 * M_PI * 20000.0 * (i / 2) / 44100.0)));
    }
    PulseWaveDevice device;
    Recorder recorder;
    WAVEHDR header = HeaderFor(tone);
    HWAVEOUT handle = 0;
    ASSERT_EQ(device.waveOutOpen(&handle, kDefaultWaveDevice, StereoFormat(), &recorder), MMSYSERR_NOERROR);
    device.waveOutPrepareHeader(handle, &header);
    device.waveOutWrite(handle, &header);
    device.waveOutEndOfStream(handle);
    EXPECT_TRUE(WaitUntil([&] { return recorder.Count(MM_WOM_DONE) == 1; }, 3000));
    device.waveOutClose(handle);
    const std::vector<std::int16_t> recording = server.StopRecording();

    // The left channel's level over the middle of the tone.
    std::size_t start = 0;
    while (2 * start < recording.size() && recording[2 * start] == 0) ++start;
    const std::size_t from = start + 12000, to = start + 36000;
    ASSERT_LT(2 * to, recording.size()) << "the tone is not in the recording";
    double sum = 0;
    for (std::size_t f = from; f < to; ++f) sum += double(recording[2 * f]) * recording[2 * f];
    const double level_db = 20 * std::log10(std::sqrt(sum / double(to - from)) / (kAmplitude / std::sqrt(2.0)));
    std::printf("20 kHz on a 48 kHz sink (%s): %.2f dB\n", testing_support::ServerKindName(server.kind()), level_db);
    ::testing::Test::RecordProperty("level_millibel", static_cast<int>(std::lround(level_db * 100)));
    if (server.kind() == testing_support::ServerKind::pipewire) {
        EXPECT_NEAR(level_db, 0.0, 0.5);
    }
}

}  // namespace
}  // namespace quorvex

namespace quorvex {
namespace {

// The server runs on but the output goes (the only sink removed): the loss
// names the output, not the server, and playback says so.
TEST(PulseDeviceOutputGone, RemovingTheSinkIsReportedAsTheOutputGoingAway) {
    PrivatePulseServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    if (server.kind() != testing_support::ServerKind::pulseaudio) {
        GTEST_SKIP() << "the private PipeWire's sink belongs to its configuration and cannot be removed";
    }
    PulseWaveDevice device;
    testing_support::PlaybackRig rig(device);
    rig.gen.speed = speeds::manual;
    rig.playback.btnStartClick();
    ASSERT_TRUE(WaitUntil([&] { return rig.view.caption == "&STOP"; }, 2000));
    server.Pactl({"unload-module", "module-null-sink"});
    ASSERT_TRUE(WaitUntil([&] { return rig.gen.closed; }, 3000));
    EXPECT_THAT(rig.view.warnings, testing::ElementsAre("Output stopped.\rThe output device went away."));
}

}  // namespace
}  // namespace quorvex
