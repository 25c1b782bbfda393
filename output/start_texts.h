// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Texts of the warnings shown when output cannot start (a sound card that
// refuses the format, memory that could not be obtained, white noise that
// the device could not play) or stops by itself.
//
// Thread note: user-interface thread (they read the default locale).

#include <string>

#include "output/wave_device.h"

namespace quorvex {

class GeneratorState;

// "Sorry, your sound card does not support\r\nstereo, 16-bit, 44.1KHz audio"
// with the default locale's decimal separator between the digits 44 and 1.
// The digits stay ASCII in every locale, so the number reads the same next
// to the "16-bit" beside it.
std::string BadFormatText();

// Names what `gen` lacks: the sound buffers, the sine tables or both.
// Empty when nothing is missing.
std::string MissingMemoryText(const GeneratorState& gen);

// Why the device could not open, as the second line of a warning: "The
// sound server did not answer." for kServerNoAnswer, otherwise the text of
// the result code's low 16 bits (ErrorText).
std::string OpenFailureReason(MMRESULT result);

// "White noise could not start.\r" followed by OpenFailureReason.
std::string NoiseFailureText(MMRESULT result);

// Why a device closed by itself, as the second line of a warning: "The
// sound server closed the connection." (also for LossCause::None, the
// cause a caller assumes when it knows no better) or "The output device
// went away.".
std::string LossReason(LossCause cause);

// "Output stopped.\r" followed by LossReason: the tone's device was lost.
std::string OutputLostText(LossCause cause);

// "White noise stopped.\r" followed by LossReason: the noise's device was
// lost.
std::string NoiseLostText(LossCause cause);

}  // namespace quorvex
