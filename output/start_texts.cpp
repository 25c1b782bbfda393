// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/start_texts.h"

#include <QLocale>

#include "engine/generator.h"
#include "output/mm_err_msg.h"

namespace quorvex {

std::string BadFormatText() {
    // Only the separator comes from the locale: its own digits would be
    // Arabic-Indic in some, for example.
    const QString separator = QLocale().decimalPoint();
    return "Sorry, your sound card does not support\r\nstereo, 16-bit, 44" + separator.toStdString() + "1KHz audio";
}

std::string MissingMemoryText(const GeneratorState& gen) {
    const bool buffers = !gen.p_buffer1 || !gen.p_buffer2;
    const bool tables = !gen.left_sine_table || !gen.right_sine_table;
    if (buffers && tables) return "Cannot start: the sound buffers and the sine tables could not be allocated.";
    if (buffers) return "Cannot start: the sound buffers could not be allocated.";
    if (tables) return "Cannot start: the sine tables could not be allocated.";
    return {};
}

std::string OpenFailureReason(MMRESULT result) {
    if (result == kServerNoAnswer) return "The sound server did not answer.";
    return std::string(ErrorText(static_cast<std::uint16_t>(result & 0xFFFF)));
}

std::string NoiseFailureText(MMRESULT result) { return "White noise could not start.\r" + OpenFailureReason(result); }

std::string LossReason(LossCause cause) {
    if (cause == LossCause::DeviceGone) return "The output device went away.";
    return "The sound server closed the connection.";
}

std::string OutputLostText(LossCause cause) { return "Output stopped.\r" + LossReason(cause); }

std::string NoiseLostText(LossCause cause) { return "White noise stopped.\r" + LossReason(cause); }

}  // namespace quorvex
