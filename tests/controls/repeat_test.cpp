// SPDX-License-Identifier: GPL-3.0-or-later
// The repeat service: due-time rules on a clock of the test's own, and the
// real thread handing its ticks over and shutting down.

#include "controls/kv_repeat.h"
#include "controls/kv_services.h"

#include "tests/controls/test_support.h"

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace quorvex {
namespace {

struct Received {
    std::uint32_t at;
    std::uint32_t lateness;
};

class Recorder : public KvRepeatTarget {
public:
    explicit Recorder(const std::uint32_t& clock) : clock_(clock) {}
    void RepeatMessage(std::uint32_t, std::uint32_t lateness) override {
        messages.push_back({clock_, lateness});
        if (fail) throw std::runtime_error("click failed");
    }
    std::vector<Received> messages;
    bool fail = false;

private:
    const std::uint32_t& clock_;
};

class RepeatCadence : public ::testing::Test {
protected:
    void TearDown() override {
        for (Recorder* r : registered_) UnregisterRepeat(r);
    }

    void Register(Recorder& r, std::int64_t interval) {
        RegisterRepeat(&r, interval);
        registered_.push_back(&r);
    }
    void Run(std::uint32_t ms) { clock.Run(ms); }
    void Stall(std::uint32_t ms) { clock.Stall(ms); }

    test::ManualRepeatClock clock;
    std::uint32_t& now = clock.now;

private:
    std::vector<Recorder*> registered_;
};

TEST_F(RepeatCadence, HeldButtonRepeatsAtItsIntervalWithoutDrift) {
    Recorder button(now);
    const std::uint32_t pressed = now;
    Register(button, 100);
    Run(10000);
    ASSERT_EQ(button.messages.size(), 100u);
    for (std::size_t k = 0; k < button.messages.size(); ++k) {
        const std::uint32_t due = pressed + 100 * static_cast<std::uint32_t>(k + 1);
        const std::uint32_t at = button.messages[k].at;
        EXPECT_GE(at, due) << k;
        EXPECT_LT(at - due, 16u) << k << ": each message comes at the first wake-up after its time";
        EXPECT_EQ(button.messages[k].lateness, at - due);
    }
}

TEST_F(RepeatCadence, StallUnderASecondCatchesUpOneMessagePerWakeUp) {
    Recorder button(now);
    const std::uint32_t pressed = now;
    Register(button, 100);
    Run(250);  // messages for 100 and 200
    ASSERT_EQ(button.messages.size(), 2u);
    Stall(600);  // due times 300..800 have passed
    Run(16 * 8);
    // One message per wake-up while behind, never more.
    for (std::size_t k = 2; k + 1 < button.messages.size(); ++k) {
        const std::uint32_t gap = button.messages[k + 1].at - button.messages[k].at;
        EXPECT_GE(gap, 16u);
    }
    Run(1000);
    // Caught up: none lost, none extra, and back on the old cadence.
    const std::uint32_t elapsed = now - pressed;
    EXPECT_EQ(button.messages.size(), elapsed / 100);
    const std::uint32_t last = button.messages.back().at;
    EXPECT_LT((last - pressed) % 100, 16u);
}

TEST_F(RepeatCadence, StallOverASecondRestartsTheCadence) {
    Recorder button(now);
    Register(button, 100);
    Run(250);
    const std::size_t before = button.messages.size();
    Stall(2000);
    ASSERT_EQ(button.messages.size(), before + 1) << "one message for the whole stall";
    EXPECT_EQ(button.messages.back().lateness, 0u);
    const std::uint32_t restart = now;
    Run(16 * 7);  // 112 ms
    ASSERT_EQ(button.messages.size(), before + 2);
    EXPECT_GE(button.messages.back().at, restart + 100);
    EXPECT_LT(button.messages.back().at, restart + 116);
}

TEST_F(RepeatCadence, RegisteringTwiceKeepsOneEntryAndRestarts) {
    Recorder button(now);
    const int before = RepeatCount();
    Register(button, 100);
    Run(80);
    Register(button, 100);  // pressed again before its first message
    EXPECT_EQ(RepeatCount(), before + 1);
    Run(96);
    EXPECT_TRUE(button.messages.empty()) << "the due time moved to the second press";
    Run(16);
    EXPECT_EQ(button.messages.size(), 1u);
    UnregisterRepeat(&button);
    EXPECT_EQ(RepeatCount(), before);
    Run(500);
    EXPECT_EQ(button.messages.size(), 1u);
}

TEST_F(RepeatCadence, FailingClickStopsNeitherOthersNorLaterDispatches) {
    Recorder first(now), failing(now), last(now);
    failing.fail = true;
    Register(first, 100);
    Register(failing, 100);
    Register(last, 100);
    Run(1008);
    EXPECT_EQ(first.messages.size(), 10u);
    EXPECT_EQ(failing.messages.size(), 10u);
    EXPECT_EQ(last.messages.size(), 10u);
}

TEST_F(RepeatCadence, ReceiverMayUnregisterItselfDuringTheWalk) {
    struct SelfRemoving : Recorder {
        using Recorder::Recorder;
        void RepeatMessage(std::uint32_t t, std::uint32_t l) override {
            Recorder::RepeatMessage(t, l);
            UnregisterRepeat(this);
        }
    };
    SelfRemoving once(now);
    Recorder other(now);
    Register(once, 100);
    Register(other, 100);
    Run(300);
    EXPECT_EQ(once.messages.size(), 1u);
    // Removing itself shifts the next entry into its slot, which this walk
    // has passed; it is served again from the next wake-up.
    EXPECT_EQ(other.messages.size(), 2u);
}

TEST(RepeatThread, HandsTicksToTheUiThreadAndStopsWithoutHanging) {
    std::uint32_t clock = 0;
    Recorder button(clock);
    RegisterRepeat(&button, 50);
    ASSERT_NE(KvFlashTimer(), nullptr);
    const std::uint64_t handOvers = KvFlashTimer()->HandOvers();
    const std::uint32_t ticks = RepeatTickCounter();
    QTRY_VERIFY_WITH_TIMEOUT(button.messages.size() >= 3, 5000);
    EXPECT_GT(KvFlashTimer()->HandOvers(), handOvers);
    EXPECT_GT(RepeatTickCounter(), ticks);

    // The UI thread stops answering, so the thread waits in a hand-over;
    // destroying the timer must still return at once.
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    const auto start = std::chrono::steady_clock::now();
    FreeFlashTimer();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(KvFlashTimer(), nullptr);
    const std::size_t received = button.messages.size();
    QTest::qWait(100);  // the abandoned hand-over is gone with its timer
    EXPECT_EQ(button.messages.size(), received);

    RegisterRepeat(&button, 50);  // the next press brings the service back
    ASSERT_NE(KvFlashTimer(), nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(button.messages.size() > received, 5000);
    UnregisterRepeat(&button);
}

}  // namespace
}  // namespace quorvex
