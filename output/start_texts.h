#pragma once
// Texts of the warnings shown when output cannot start: a sound card that
// refuses the format, and memory that could not be obtained.
//
// Thread note: user-interface thread (they read the default locale).

#include <string>

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

}  // namespace quorvex
