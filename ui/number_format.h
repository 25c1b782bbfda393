// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Number texts of the main window that the engine does not provide.

#include <string>
#include <string_view>

namespace quorvex::ui {

// x in the general format with 4 significant digits, as lblChirpCum shows the
// chirp total: the magnitude rounded to 4 significant digits (halves away
// from zero), trailing zeros dropped, plain notation for decimal exponents
// -3..4 of the form 0.dddd x 10^e ("0.05", "1234"), otherwise scientific
// ("1.235E4", "5E-5"); "0" for zero, a leading "-" for negatives.
// decimal_separator stands between the whole and the fractional digits.
// Infinities and NaN are written "INF", "-INF" and "NAN".
std::string FormatGeneral4(double x, std::string_view decimal_separator);

}  // namespace quorvex::ui
