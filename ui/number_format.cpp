// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/number_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace quorvex::ui {

std::string FormatGeneral4(double x, std::string_view decimal_separator) {
    if (std::isnan(x)) return "NAN";
    if (std::isinf(x)) return x < 0 ? "-INF" : "INF";
    if (x == 0) return "0";

    // The exact binary value in decimal, so a digit of 5 right after the
    // fourth means "at least half": rounding up there rounds halves away
    // from zero, which the conversion's own rounding (ties to even) would
    // not. 800 digits cover the longest exact expansion of a double. Written
    // as in the C locale (to_chars ignores the user's, whose separator may
    // take several bytes), so the digits stand at fixed places; the
    // caller's separator goes in below.
    char text[900];
    const std::to_chars_result written =
        std::to_chars(text, text + sizeof text, std::fabs(x), std::chars_format::scientific, 800);
    std::string digits{text[0]};
    digits.append(text + 2, 3);
    const char* exponent_part = std::find(text, written.ptr, 'e') + 1;
    if (*exponent_part == '+') ++exponent_part;
    int e = 0;
    std::from_chars(exponent_part, written.ptr, e);
    ++e;  // value = 0.d1d2d3d4 x 10^e
    if (text[5] >= '5') {
        int i = 3;
        while (i >= 0 && digits[static_cast<std::size_t>(i)] == '9') digits[static_cast<std::size_t>(i--)] = '0';
        if (i < 0) {
            digits = "1000";
            ++e;
        } else {
            ++digits[static_cast<std::size_t>(i)];
        }
    }
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    std::string out = x < 0 ? "-" : "";
    const int n = static_cast<int>(digits.size());
    if (e >= -3 && e <= 4) {
        if (e >= 1) {
            out += digits.substr(0, static_cast<std::size_t>(std::min(e, n)));
            if (e > n) out.append(static_cast<std::size_t>(e - n), '0');
            if (n > e) {
                out += decimal_separator;
                out += digits.substr(static_cast<std::size_t>(e));
            }
        } else {
            out += "0";
            out += decimal_separator;
            out.append(static_cast<std::size_t>(-e), '0');
            out += digits;
        }
    } else {
        out += digits[0];
        if (n > 1) {
            out += decimal_separator;
            out += digits.substr(1);
        }
        out += "E";
        if (e - 1 < 0) out += "-";
        out += std::to_string(std::abs(e - 1));
    }
    return out;
}

}  // namespace quorvex::ui
