// SPDX-License-Identifier: GPL-3.0-or-later
// The wave device contract (output/wave_device.h), one suite for both
// devices: the virtual one that playback's tests rely on, and the real one
// on a private sound server. Where they part, playback's tests would pass a
// case the program fails.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

#include "output/pulse_wave_device.h"
#include "output/virtual_wave_device.h"
#include "tests/output/device_test_support.h"
#include "tests/output/pulse_server.h"

namespace quorvex {
namespace {

using testing_support::HeaderFor;
using testing_support::Noise;
using testing_support::Recorder;
using testing_support::StereoFormat;

constexpr std::size_t kRate = 44100;

// The virtual device: its clock moves only as the test plays it, 10 ms at a
// time, and it knows exactly how many frames it has played.
struct VirtualKind {
    static constexpr bool kReal = false;
    bool Ready(std::string*) { return true; }
    bool PlayUntil(const std::function<bool()>& done, int ms) {
        for (int t = 0; t <= ms && !done(); t += 10) {
            played_frames += device.Advance(kRate / 100);
            QCoreApplication::sendPostedEvents();
        }
        QCoreApplication::sendPostedEvents();
        return done();
    }
    void Wrote() {}
    // At most this many frames can have been played so far.
    std::size_t PlayedAtMost() const { return played_frames; }
    void Lose() { device.LoseDevice(LossCause::ServerGone); }

    VirtualWaveDevice device;
    std::size_t played_frames = 0;
};

// The real device on a private server: the clock is the wall clock, and no
// more frames can have been played than real time allows since the first
// write.
struct PulseKind {
    static constexpr bool kReal = true;
    bool Ready(std::string* why) {
        *why = server.error();
        return server.ok();
    }
    bool PlayUntil(const std::function<bool()>& done, int ms) { return testing_support::WaitUntil(done, ms); }
    void Wrote() {
        if (!started.isValid()) started.start();
    }
    std::size_t PlayedAtMost() const {
        return started.isValid() ? static_cast<std::size_t>(started.elapsed() + 1) * kRate / 1000 : 0;
    }
    void Lose() { server.Kill(); }

    testing_support::PrivatePulseServer server;
    PulseWaveDevice device;
    QElapsedTimer started;  // just before the first write
};

template <class Kind>
class DeviceContract : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(kind.Ready(&why)) << why;
        ASSERT_EQ(device().waveOutOpen(&handle, kDefaultWaveDevice, StereoFormat(), &recorder), MMSYSERR_NOERROR);
        ASSERT_TRUE(kind.PlayUntil([&] { return recorder.Count(MM_WOM_OPEN) == 1; }, 2000));
    }
    void TearDown() override {
        device().waveOutReset(handle);
        device().waveOutClose(handle);
    }
    WaveOutDevice& device() { return kind.device; }
    void Queue(WAVEHDR& header) {
        device().waveOutPrepareHeader(handle, &header);
        kind.Wrote();
        ASSERT_EQ(device().waveOutWrite(handle, &header), MMSYSERR_NOERROR);
    }
    // After the close: nothing arrives any more.
    void ExpectNothingMoreThan(const std::string& types) {
        kind.PlayUntil([] { return false; }, 100);
        EXPECT_EQ(recorder.Types(), types);
    }

    Recorder recorder;  // outlives the device, which posts to it
    Kind kind;
    HWAVEOUT handle = 0;
};

using Kinds = ::testing::Types<VirtualKind, PulseKind>;
class KindNames {
public:
    template <class T>
    static std::string GetName(int) {
        return T::kReal ? "Pulse" : "Virtual";
    }
};
TYPED_TEST_SUITE(DeviceContract, Kinds, KindNames);

// Done notifications come in queue order, each once its frames can have
// been played, and only after the end of the stream for the last one.
TYPED_TEST(DeviceContract, DoneComesInOrderAndOnlyOncePlayed) {
    std::vector<std::int16_t> first = Noise(kRate / 5, 1);  // 200 ms
    std::vector<std::int16_t> second = Noise(kRate / 10, 2);
    WAVEHDR header1 = HeaderFor(first);
    WAVEHDR header2 = HeaderFor(second);
    this->Queue(header1);
    this->Queue(header2);
    EXPECT_TRUE(header1.dwFlags & WHDR_INQUEUE);
    EXPECT_EQ(this->device().waveOutEndOfStream(this->handle), MMSYSERR_NOERROR);
    std::vector<std::size_t> at_most;  // frames playable when each done arrived
    ASSERT_TRUE(this->kind.PlayUntil(
        [&] {
            while (at_most.size() < static_cast<std::size_t>(this->recorder.Count(MM_WOM_DONE))) {
                at_most.push_back(this->kind.PlayedAtMost());
            }
            return at_most.size() == 2;
        },
        3000));
    ASSERT_EQ(this->recorder.Types(), "open done done ");
    EXPECT_EQ(this->recorder.notes[1].header, &header1);
    EXPECT_EQ(this->recorder.notes[2].header, &header2);
    EXPECT_GE(at_most[0], first.size() / 2);
    EXPECT_GE(at_most[1], (first.size() + second.size()) / 2);
    EXPECT_TRUE(header2.dwFlags & WHDR_DONE);
    EXPECT_FALSE(header2.dwFlags & WHDR_INQUEUE);

    // After the end of the stream nothing more is taken; a reset lifts that.
    std::vector<std::int16_t> late = Noise(441, 3);
    WAVEHDR header3 = HeaderFor(late);
    this->device().waveOutPrepareHeader(this->handle, &header3);
    EXPECT_EQ(this->device().waveOutWrite(this->handle, &header3), MMSYSERR_INVALPARAM);
    EXPECT_EQ(this->device().waveOutReset(this->handle), MMSYSERR_NOERROR);
    EXPECT_EQ(this->device().waveOutWrite(this->handle, &header3), MMSYSERR_NOERROR);
    EXPECT_EQ(this->device().waveOutReset(this->handle), MMSYSERR_NOERROR);
    EXPECT_EQ(this->device().waveOutClose(this->handle), MMSYSERR_NOERROR);
    this->ExpectNothingMoreThan("open done done done close ");
}

// A reset returns every queued header at once, a looping one included, in
// queue order; the close after it returns nothing twice.
TYPED_TEST(DeviceContract, ResetReturnsEveryHeaderOnceInQueueOrder) {
    std::vector<std::int16_t> loop = Noise(441, 4);
    std::vector<std::int16_t> after = Noise(kRate, 5);
    WAVEHDR looping = HeaderFor(loop);
    looping.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
    looping.dwLoops = 0xFFFFFFFF;
    WAVEHDR tail = HeaderFor(after);
    this->Queue(looping);
    this->Queue(tail);
    // A header that loops for ever comes back only on reset.
    EXPECT_FALSE(this->kind.PlayUntil([&] { return this->recorder.Count(MM_WOM_DONE) > 0; }, 300));
    EXPECT_EQ(this->device().waveOutReset(this->handle), MMSYSERR_NOERROR);
    EXPECT_EQ(this->recorder.Types(), "open ");  // posted, not delivered inside the call
    this->kind.PlayUntil([&] { return this->recorder.Count(MM_WOM_DONE) == 2; }, 1000);
    ASSERT_EQ(this->recorder.Types(), "open done done ");
    EXPECT_EQ(this->recorder.notes[1].header, &looping);
    EXPECT_EQ(this->recorder.notes[2].header, &tail);
    EXPECT_EQ(this->device().waveOutClose(this->handle), MMSYSERR_NOERROR);
    this->ExpectNothingMoreThan("open done done close ");
}

// Lost (the server went away): every queued header comes back, the close
// follows with its cause, and the handle is gone: every call on it says so
// and posts nothing, as on any closed handle.
TYPED_TEST(DeviceContract, AfterALossEveryCallFindsTheHandleGone) {
    std::vector<std::int16_t> first = Noise(kRate, 6);
    std::vector<std::int16_t> second = Noise(kRate, 7);
    WAVEHDR header1 = HeaderFor(first);
    WAVEHDR header2 = HeaderFor(second);
    this->Queue(header1);
    this->Queue(header2);
    this->kind.PlayUntil([] { return false; }, 100);
    this->kind.Lose();
    ASSERT_TRUE(this->kind.PlayUntil([&] { return this->recorder.Count(MM_WOM_CLOSE) == 1; }, 3000));
    ASSERT_EQ(this->recorder.Types(), "open done done close ");
    EXPECT_EQ(this->recorder.notes[1].header, &header1);
    EXPECT_EQ(this->recorder.notes[2].header, &header2);
    EXPECT_EQ(this->recorder.notes[3].cause, LossCause::ServerGone);

    const HWAVEOUT handle = this->handle;
    const struct {
        const char* call;
        std::function<MMRESULT()> make;
    } calls[] = {
        {"prepare", [&] { return this->device().waveOutPrepareHeader(handle, &header1); }},
        {"write", [&] { return this->device().waveOutWrite(handle, &header1); }},
        {"end of stream", [&] { return this->device().waveOutEndOfStream(handle); }},
        {"reset", [&] { return this->device().waveOutReset(handle); }},
        {"close", [&] { return this->device().waveOutClose(handle); }},
        {"unprepare", [&] { return this->device().waveOutUnprepareHeader(handle, &header1); }},
        {"close on handle 0", [&] { return this->device().waveOutClose(0); }},
    };
    for (const auto& c : calls) {
        SCOPED_TRACE(c.call);
        EXPECT_EQ(c.make(), MMSYSERR_INVALHANDLE);
    }
    this->ExpectNothingMoreThan("open done done close ");
}

}  // namespace
}  // namespace quorvex
