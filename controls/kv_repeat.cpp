// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/kv_repeat.h"

#include "controls/kv_services.h"

#include <QCoreApplication>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace quorvex {

// The thread of a TKvFlash. It only sleeps and hands the owner's DoTimer over
// to the UI thread; it never touches the owner's data itself.
class TTimerThread {
public:
    TTimerThread(TKvFlash* owner, std::uint32_t intervalMs) : tOwner(owner), tInterval(intervalMs) {
        FThread = std::thread([this] { Execute(); });
    }

    // Thread note: called on the UI thread, by the owner's destructor.
    ~TTimerThread() {
        {
            std::lock_guard lock{FMutex};
            FTerminated = true;
        }
        FWake.notify_all();
        // Never blocks on the UI thread: a hand-over still waiting in the
        // event queue is abandoned (the owner's destruction discards it).
        FThread.join();
    }

    // Suspends the thread, or resumes it with a new interval. UI thread.
    void Update(std::uint32_t intervalMs, bool run) {
        {
            std::lock_guard lock{FMutex};
            tInterval = intervalMs;
            FRunning = run;
        }
        FWake.notify_all();
    }

    std::uint64_t HandOvers() const {
        std::lock_guard lock{FMutex};
        return FHandOvers;
    }

private:
    void Execute() {
        std::unique_lock lock{FMutex};
        while (!FTerminated) {
            if (!FRunning) {
                FWake.wait(lock, [this] { return FTerminated || FRunning; });
                continue;
            }
            // A full sleep; a wake-up to stop or suspend skips the tick.
            const auto interval = std::chrono::milliseconds(tInterval);
            if (FWake.wait_for(lock, interval, [this] { return FTerminated || !FRunning; })) continue;

            // Synchronous hand-over: post DoTimer to the UI thread and wait
            // until it ran. While the UI thread is busy the thread waits here,
            // so ticks never pile up; a late tick shows as lateness instead.
            FPending = true;
            lock.unlock();
            QMetaObject::invokeMethod(
                tOwner,
                [this] {
                    tOwner->DoTimer();
                    {
                        std::lock_guard done{FMutex};
                        FPending = false;
                        ++FHandOvers;
                    }
                    FWake.notify_all();
                },
                Qt::QueuedConnection);
            lock.lock();
            FWake.wait(lock, [this] { return FTerminated || !FPending; });
        }
    }

    TKvFlash* const tOwner;
    mutable std::mutex FMutex;
    std::condition_variable FWake;
    std::uint32_t tInterval;
    bool FRunning = false;
    bool FTerminated = false;
    bool FPending = false;
    std::uint64_t FHandOvers = 0;
    std::thread FThread;
};

TKvFlash::TKvFlash(std::uint32_t intervalMs, QObject* parent)
    : QObject(parent), FInterval(intervalMs), FTimerThread(std::make_unique<TTimerThread>(this, intervalMs)) {}

TKvFlash::~TKvFlash() {
    FDestroying = true;
    FEnabled = false;
    FOnTimer = nullptr;
    FTimerThread.reset();
}

void TKvFlash::SetEnabled(bool e) {
    if (e == FEnabled) return;
    FEnabled = e;
    UpdateThread();
}

void TKvFlash::SetThreadPriority(TThreadPriority p) {
    if (p == FThreadPriority) return;
    FThreadPriority = p;
    UpdateThread();
}

void TKvFlash::SetOnTimer(std::function<void()> event) {
    const bool wasAssigned = static_cast<bool>(FOnTimer);
    FOnTimer = std::move(event);
    if (wasAssigned != static_cast<bool>(FOnTimer)) UpdateThread();
}

void TKvFlash::UpdateThread() {
    FTimerThread->Update(FInterval, FInterval != 0 && FEnabled && FOnTimer);
}

void TKvFlash::DoTimer() {
    if (FEnabled && !FDestroying && FOnTimer) FOnTimer();
}

std::uint64_t TKvFlash::HandOvers() const { return FTimerThread->HandOvers(); }

TKvFlashTimer::TKvFlashTimer() : TKvFlash(16) { SetOnTimer(DispatchTicks); }

namespace {

struct RepeatEntry {
    KvRepeatTarget* control;
    std::int64_t interval;
    std::uint64_t due;
};

std::vector<std::unique_ptr<RepeatEntry>>& RepeatList() {
    static std::vector<std::unique_ptr<RepeatEntry>> list;
    return list;
}

std::uint32_t TickCounter = 0;
TKvFlashTimer* FlashTimer = nullptr;

// Runs as the application object is destroyed: the thread must be gone
// before the event queue it posts to.
void FinaliseRepeat() {
    FreeFlashTimer();
    RepeatList().clear();
    RepeatList().shrink_to_fit();
}

void EnsureFlashTimer() {
    if (FlashTimer) return;
    FlashTimer = new TKvFlashTimer();
    static bool finaliserAdded = false;
    if (!finaliserAdded) {
        qAddPostRoutine(FinaliseRepeat);
        finaliserAdded = true;
    }
}

}  // namespace

void RegisterRepeat(KvRepeatTarget* target, std::int64_t intervalMs) {
    auto& list = RepeatList();
    const std::uint64_t due = static_cast<std::uint64_t>(KvTickCount()) + static_cast<std::uint64_t>(intervalMs);
    RepeatEntry* entry = nullptr;
    for (auto& e : list) {
        if (e->control == target) {
            entry = e.get();
            break;
        }
    }
    if (entry) {
        entry->interval = intervalMs;
        entry->due = due;
    } else {
        list.push_back(std::make_unique<RepeatEntry>(RepeatEntry{target, intervalMs, due}));
    }
    EnsureFlashTimer();
}

void UnregisterRepeat(KvRepeatTarget* target) {
    auto& list = RepeatList();
    for (auto it = list.begin(); it != list.end(); ++it) {
        if ((*it)->control == target) {
            list.erase(it);
            break;
        }
    }
    if (QCoreApplication::closingDown() && list.empty()) FreeFlashTimer();
}

void DispatchTicks() {
    ++TickCounter;
    const std::uint32_t now = KvTickCount();
    auto& list = RepeatList();
    // A message may register or remove entries; the walk re-reads the count
    // and visits at most as many entries as there were at the start.
    const std::size_t count = list.size();
    std::size_t index = 0;
    for (std::size_t n = 0; n < count; ++n) {
        if (QCoreApplication::closingDown() || index >= list.size()) break;
        RepeatEntry& entry = *list[index++];
        try {
            const std::uint32_t diff = now - static_cast<std::uint32_t>(entry.due);
            std::uint32_t lateness = static_cast<std::int32_t>(diff) < 0 ? 0u - diff : diff;
            if (now < entry.due) continue;
            // Moving the due time on from the old one keeps the cadence free
            // of drift; a due time still in the past catches up at one message
            // per wake-up. After a stall of over a second it restarts from now.
            if (lateness > 1000) lateness = 0;
            entry.due = static_cast<std::uint64_t>(static_cast<std::int64_t>(now) + entry.interval - lateness);
            // The entry may be gone once the message has been handled.
            entry.control->RepeatMessage(TickCounter, lateness);
        } catch (...) {
            // One failing button must not stop the others or later wake-ups.
        }
    }
}

int RepeatCount() { return static_cast<int>(RepeatList().size()); }
std::uint32_t RepeatTickCounter() { return TickCounter; }

TKvFlashTimer* KvFlashTimer() { return FlashTimer; }

void FreeFlashTimer() {
    delete FlashTimer;
    FlashTimer = nullptr;
}

}  // namespace quorvex
