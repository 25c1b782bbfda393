// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the controls take from their surroundings: the beep, the report of an
// error to the user and the millisecond tick count. Each can be replaced, so
// that tests count beeps, collect error texts instead of blocking in a
// dialog, and drive the repeat cadence on a clock of their own.
// UI thread only.

#include <QString>

#include <cstdint>
#include <functional>

class QWidget;

namespace quorvex {

using KvBeeper = std::function<void()>;
using KvErrorReporter = std::function<void(QWidget* source, const QString& text)>;
using KvTickSource = std::function<std::uint32_t()>;

// The toolkit's default beep unless replaced.
void KvBeep();
// Shows `text` in a message box over `source`'s window unless replaced; on
// the offscreen platform, where nobody could close it, the text goes to the
// log instead.
void KvReportError(QWidget* source, const QString& text);
// Milliseconds of a monotonic clock, wrapping at 32 bits, unless replaced.
std::uint32_t KvTickCount();

// Passing an empty function restores the default.
void SetKvBeeper(KvBeeper beeper);
void SetKvErrorReporter(KvErrorReporter reporter);
void SetKvTickSource(KvTickSource source);

}  // namespace quorvex
