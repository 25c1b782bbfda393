// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The application-wide repeat service behind held spin buttons. One
// background thread wakes every 16 ms and hands each wake-up over to the UI
// thread, waiting until it has been handled; there DispatchTicks walks the
// registered buttons and sends RepeatMessage to those whose time has come.
// The list and the counter are touched on the UI thread only.

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>

namespace quorvex {

// Receiver of repeat messages (the timer speed button).
class KvRepeatTarget {
public:
    // tickCounter: the dispatch counter; lateness: ms late, 0..1000.
    virtual void RepeatMessage(std::uint32_t tickCounter, std::uint32_t lateness) = 0;

protected:
    ~KvRepeatTarget() = default;
};

// Registers `target` with `intervalMs` (its first message is due one
// interval from now); a second registration restarts its cadence. Starts
// the service on first use. UI thread only.
void RegisterRepeat(KvRepeatTarget* target, std::int64_t intervalMs);
// Removes `target`'s registration, if any. UI thread only.
void UnregisterRepeat(KvRepeatTarget* target);
// One wake-up: sends RepeatMessage to every due target. Errors thrown by a
// target are discarded. UI thread only.
void DispatchTicks();
// Number of registered targets. UI thread only.
int RepeatCount();
// The dispatch counter sent with each message. UI thread only.
std::uint32_t RepeatTickCounter();

class TTimerThread;

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// A timer component owning one thread that sleeps Interval ms and then runs
// the OnTimer event on the UI thread, waiting for it. Created and destroyed
// on the UI thread; its setters are UI thread only.
class TKvFlash : public QObject {
    Q_OBJECT

public:
    explicit TKvFlash(std::uint32_t intervalMs, QObject* parent = nullptr);
    // Stops the thread without waiting on the UI thread, then joins it.
    ~TKvFlash() override;

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool e);
    // Stored; the thread runs at the platform's normal priority.
    TThreadPriority ThreadPriority() const { return FThreadPriority; }
    void SetThreadPriority(TThreadPriority p);
    void SetOnTimer(std::function<void()> event);

    // Fires OnTimer when enabled, not being destroyed and assigned. UI thread.
    void DoTimer();

    // Hand-overs completed by the UI thread so far. Any thread.
    std::uint64_t HandOvers() const;

private:
    void UpdateThread();

    bool FEnabled = true;
    std::uint32_t FInterval;
    std::function<void()> FOnTimer;
    std::unique_ptr<TTimerThread> FTimerThread;
    TThreadPriority FThreadPriority = tpNormal;
    bool FDestroying = false;
};

// The single instance behind the repeat service; its event is DispatchTicks.
class TKvFlashTimer : public TKvFlash {
    Q_OBJECT

public:
    TKvFlashTimer();
};

// The service's timer, or null before the first registration. UI thread only.
TKvFlashTimer* KvFlashTimer();
// Destroys the service's timer, if any (done at application end). UI thread.
void FreeFlashTimer();

}  // namespace quorvex
