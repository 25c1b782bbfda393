// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Replaces the beep and the error report for one test, so that beeps are
// counted and error texts collected instead of a dialog blocking the run.

#include "controls/kv_services.h"

#include <QString>
#include <QStringList>

namespace quorvex::test {

class ServiceRecorder {
public:
    ServiceRecorder() {
        SetKvBeeper([this] { ++beeps; });
        SetKvErrorReporter([this](QWidget*, const QString& text) { errors << text; });
    }
    ~ServiceRecorder() {
        SetKvBeeper({});
        SetKvErrorReporter({});
    }
    ServiceRecorder(const ServiceRecorder&) = delete;
    ServiceRecorder& operator=(const ServiceRecorder&) = delete;

    int beeps = 0;
    QStringList errors;
};

}  // namespace quorvex::test

#include "controls/kv_repeat.h"

#include <QCoreApplication>

#include <cstdint>

namespace quorvex::test {

// The repeat service on a clock of the test's own: the real thread is kept
// idle and every wake-up is a DispatchTicks call made by the test.
class ManualRepeatClock {
public:
    ManualRepeatClock() {
        current_ = this;
        SetKvTickSource([this] { return now; });
        struct Probe : KvRepeatTarget {
            void RepeatMessage(std::uint32_t, std::uint32_t) override {}
        } probe;
        RegisterRepeat(&probe, 100);  // brings the service up
        UnregisterRepeat(&probe);
        KvFlashTimer()->SetEnabled(false);
        QCoreApplication::processEvents();  // a hand-over already posted does nothing
    }
    ~ManualRepeatClock() {
        current_ = nullptr;
        if (KvFlashTimer()) KvFlashTimer()->SetEnabled(true);
        SetKvTickSource({});
    }
    ManualRepeatClock(const ManualRepeatClock&) = delete;
    ManualRepeatClock& operator=(const ManualRepeatClock&) = delete;

    // Wake-ups every 16 ms for `ms` milliseconds.
    void Run(std::uint32_t ms) {
        for (std::uint32_t t = 0; t + 16 <= ms; t += 16) {
            now += 16;
            DispatchTicks();
        }
    }
    // One wake-up after the UI thread was blocked for `ms`.
    void Stall(std::uint32_t ms) {
        now += ms;
        DispatchTicks();
    }

    // The clock of the running test, if any.
    static ManualRepeatClock* Current() { return current_; }

    std::uint32_t now = 100000;

private:
    static inline ManualRepeatClock* current_ = nullptr;
};

}  // namespace quorvex::test
