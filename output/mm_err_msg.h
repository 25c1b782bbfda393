// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Module mmErrMsg: short English texts for the multimedia result codes that
// the wave output device returns. No state.

#include <cstdint>
#include <string_view>

namespace quorvex {

// The text for a result code: general, wave, MIDI, timer, joystick and
// multimedia-file codes, each family from its base (0, 32, 64, 96, 160, 256).
// Any other code gives "invalid parameter passed to error translation
// routine!". The text is static; never fails. Any thread.
std::string_view ErrorText(std::uint16_t code);

}  // namespace quorvex
