// SPDX-License-Identifier: GPL-3.0-or-later
// The device layer on a real sound server: a private server with a null
// sink, whose monitor is recorded and searched for the samples played.

#include "output/pulse_wave_device.h"

#include <QDir>
#include <QElapsedTimer>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <random>

#include "output/noise_player.h"
#include "output/playback.h"
#include "tests/output/playback_rig.h"
#include "tests/output/pulse_server.h"

namespace quorvex {
namespace {

using testing_support::Find;
using testing_support::PlaybackRig;
using testing_support::PrivatePulseServer;
using testing_support::WaitUntil;

WAVEFORMATEX StereoFormat() {
    WAVEFORMATEX format;
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = 44100;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = 44100 * 4;
    return format;
}

// Samples no stretch of silence or rounding could produce by chance.
std::vector<std::int16_t> Noise(std::size_t frames, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> sample(-20000, 20000);
    std::vector<std::int16_t> samples(frames * 2);
    for (auto& s : samples) s = static_cast<std::int16_t>(sample(random));
    return samples;
}

// Notes every notification with the time it arrived.
class Recorder : public QObject {
public:
    struct Note {
        QEvent::Type type;
        WAVEHDR* header;
        qint64 at_ms;
    };
    Recorder() { clock.start(); }
    void customEvent(QEvent* event) override {
        notes.push_back({event->type(), static_cast<WaveOutEvent*>(event)->header(), clock.elapsed()});
    }
    std::string Types() const {
        std::string types;
        for (const Note& n : notes) types += n.type == MM_WOM_OPEN ? "open " : n.type == MM_WOM_DONE ? "done " : "close ";
        return types;
    }
    int Count(QEvent::Type type) const {
        return static_cast<int>(std::count_if(notes.begin(), notes.end(), [type](const Note& n) { return n.type == type; }));
    }
    QElapsedTimer clock;
    std::vector<Note> notes;
};

WAVEHDR HeaderFor(std::vector<std::int16_t>& samples) {
    WAVEHDR header;
    header.lpData = reinterpret_cast<char*>(samples.data());
    header.dwBufferLength = static_cast<std::uint32_t>(samples.size() * sizeof(std::int16_t));
    return header;
}

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

TEST_F(PulseDeviceTest, LosingTheServerReturnsEveryHeaderAndCloses) {
    std::vector<std::int16_t> first = Noise(44100, 5);
    std::vector<std::int16_t> second = Noise(44100, 6);
    WAVEHDR header1 = HeaderFor(first);
    WAVEHDR header2 = HeaderFor(second);
    ASSERT_NO_FATAL_FAILURE(OpenAndPrepare({&header1, &header2}));
    device.waveOutWrite(handle, &header1);
    device.waveOutWrite(handle, &header2);
    WaitUntil([] { return false; }, 100);

    server.Kill();
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count(MM_WOM_CLOSE) == 1; }, 2000));
    EXPECT_EQ(recorder.Types(), "open done done close ");
    EXPECT_EQ(recorder.notes[1].header, &header1);
    EXPECT_EQ(recorder.notes[2].header, &header2);
    // The owner may still stop and close as usual; nothing more arrives.
    device.waveOutReset(handle);
    device.waveOutClose(handle);
    WaitUntil([] { return false; }, 50);
    EXPECT_EQ(recorder.Types(), "open done done close ");

    // A later open reports the missing server.
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
// little, so what still sounds after a reset is short and PipeWire runs a
// moderate cycle rather than a few milliseconds.
TEST_F(PulseDeviceTest, StreamNamesItselfAndAsksForAModerateLatency) {
    std::vector<std::int16_t> samples = Noise(44100, 7);
    WAVEHDR header = HeaderFor(samples);
    ASSERT_NO_FATAL_FAILURE(OpenAndPrepare({&header}));
    device.waveOutWrite(handle, &header);
    WaitUntil([] { return false; }, 200);
    const std::string inputs = server.Pactl({"list", "sink-inputs"});
    EXPECT_THAT(inputs, testing::HasSubstr("application.name = \"Quorvex\""));
    EXPECT_THAT(inputs, testing::HasSubstr("media.role = \"test\""));
    if (server.kind() == testing_support::ServerKind::pipewire) {
        // pipewire-pulse lists no latencies; the stream's requests show instead.
        EXPECT_THAT(inputs, testing::HasSubstr("node.latency = \"2205/44100\""));  // 50 ms: 2048-frame cycles
        EXPECT_GE(NumberAfter(inputs, "pulse.attr.tlength = \""), 44100) << "bytes";
    } else {
        EXPECT_GE(NumberAfter(inputs, "Buffer Latency: "), 250000) << "microseconds\n" << inputs;
        EXPECT_LE(NumberAfter(inputs, "Sink Latency: "), 60000) << "microseconds\n" << inputs;
    }
    device.waveOutReset(handle);
    device.waveOutClose(handle);
}

// A header written after the queue ran out is still played in full and comes
// back, and the break counts as one underrun; one written while the end of
// the queue is still playing follows it without a break.
TEST_F(PulseDeviceTest, WritesAfterTheEndOfTheQueuePlayOnAndOnlyABreakCounts) {
    ASSERT_TRUE(server.StartRecording());
    std::vector<std::int16_t> first = Noise(8820, 11);    // 0.2 s
    std::vector<std::int16_t> second = Noise(11025, 12);  // 0.25 s: all fits in the server at once
    std::vector<std::int16_t> third = Noise(4410, 13);    // 0.1 s
    WAVEHDR header1 = HeaderFor(first);
    WAVEHDR header2 = HeaderFor(second);
    WAVEHDR header3 = HeaderFor(third);
    ASSERT_NO_FATAL_FAILURE(OpenAndPrepare({&header1, &header2, &header3}));
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count(MM_WOM_OPEN) == 1; }, 2000));

    device.waveOutWrite(handle, &header1);
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count(MM_WOM_DONE) == 1; }, 2000));
    WaitUntil([] { return false; }, 300);  // played out, nothing follows
    device.waveOutWrite(handle, &header2);
    // Handed over in full at once: the end of the queue is being played out.
    EXPECT_GE(device.BytesWritten(handle), (first.size() + second.size()) * 2);
    WaitUntil([] { return false; }, 150);
    device.waveOutWrite(handle, &header3);
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count(MM_WOM_DONE) == 3; }, 3000));
    EXPECT_EQ(recorder.notes[2].header, &header2);
    EXPECT_EQ(recorder.notes[3].header, &header3);
    EXPECT_EQ(device.Underruns(handle), 1u);
    device.waveOutReset(handle);
    device.waveOutClose(handle);
    EXPECT_EQ(device.TotalUnderruns(), 1u);

    const std::vector<std::int16_t> recording = server.StopRecording();
    EXPECT_GE(Find(recording, first), 0);
    std::vector<std::int16_t> joined = second;
    joined.insert(joined.end(), third.begin(), third.end());
    EXPECT_GE(Find(recording, joined), 0) << "the header written during the end did not follow at once";
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
