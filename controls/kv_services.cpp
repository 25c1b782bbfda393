// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/kv_services.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>

#include <chrono>
#include <cstdio>

namespace quorvex {

namespace {

KvBeeper& Beeper() {
    static KvBeeper beeper;
    return beeper;
}

KvErrorReporter& Reporter() {
    static KvErrorReporter reporter;
    return reporter;
}

KvTickSource& TickSource() {
    static KvTickSource source;
    return source;
}

}  // namespace

void KvBeep() {
    if (Beeper()) {
        Beeper()();
    } else {
        QApplication::beep();
    }
}

void KvReportError(QWidget* source, const QString& text) {
    if (Reporter()) {
        Reporter()(source, text);
        return;
    }
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        std::fprintf(stderr, "%s\n", qPrintable(text));
        return;
    }
    QWidget* parent = source ? source->window() : nullptr;
    QMessageBox::critical(parent, QApplication::applicationDisplayName(), text);
}

std::uint32_t KvTickCount() {
    if (TickSource()) return TickSource()();
    using namespace std::chrono;
    // Counted from the first use, so the 32-bit count wraps only after 49.7
    // days of the program running rather than of the machine.
    static const steady_clock::time_point origin = steady_clock::now();
    const auto ms = duration_cast<milliseconds>(steady_clock::now() - origin).count();
    return static_cast<std::uint32_t>(ms);
}

void SetKvBeeper(KvBeeper beeper) { Beeper() = std::move(beeper); }
void SetKvErrorReporter(KvErrorReporter reporter) { Reporter() = std::move(reporter); }
void SetKvTickSource(KvTickSource source) { TickSource() = std::move(source); }

}  // namespace quorvex
