// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Text side of the numeric edit: notations, prefixes, scale and exponent
// letters, the character scan, conversion, limits, the derived forms of a
// value and the pattern formatter. Pure functions: no widget, no global
// state; the locale's separators are passed in. Safe on any thread.

#include <QFlags>
#include <QString>

#include <cstdint>

namespace quorvex {

// Notation of a numeric edit's text.
enum TEditBase { ebBin, ebHex, ebFloat, ebInt };

enum TNumEditOption : unsigned {
    eoLimitMax = 1u << 0,
    eoLimitMin = 1u << 1,
    eoMultiply = 1u << 2,
};
Q_DECLARE_FLAGS(TNumEditOptions, TNumEditOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TNumEditOptions)

enum TNumEditState { esNormal, esEditing, esError };

// The locale's separators as the field sees them.
struct NumSeparators {
    QChar decimal = u'.';
    QChar thousands = u',';
};

// What one notation accepts and the range it can hold.
struct TBaseProperties {
    QString ValidChars;
    bool ExpEnable = false;
    bool MultiEnable = false;
    QString Sign;
    long double MinValue = 0;
    long double MaxValue = 0;
};

// The scale letters, largest factor first: E = 1e18 down to a = 1e-18.
inline constexpr char16_t kMultiplierLetters[] = u"EPTGMkmunpfa";

// The record for `base`; the float and integer records include `sep`.
TBaseProperties BaseProperties(TEditBase base, const NumSeparators& sep);

// Scale factor of a scale letter, as the single-precision constant it is
// stored as (m = 0.0010000000474974513), or 0 when `letter` is none.
float ScaleFactor(QChar letter);

// Outcome of checking one text.
struct TextCheck {
    enum Kind {
        kEmpty,            // nothing typed: edit state, nothing to apply
        kInvalid,          // characters outside the notation, see firstBad
        kValid,            // `number` holds the converted value
        kConversionError,  // passes the scan, the conversion refuses it
    };
    Kind kind = kEmpty;
    TEditBase notation = ebFloat;  // the prefix's notation, else the field's
    // 1-based positions of the first and last bad character (kInvalid).
    int firstBad = 0;
    int lastBad = 0;
    long double number = 0;  // kValid: the value, scale factor applied
    QString error;           // kConversionError: text for the user
};

// Scans `text` as typed into a field of notation `base` and, when the scan
// passes and `convert` is set, converts it. Without `convert` a valid text
// comes back as kValid with `number` 0. Never throws.
TextCheck CheckText(const QString& text, TEditBase base, const NumSeparators& sep,
                    bool convert = true);

// Limit check of a value about to be applied. A flag is only reported
// (has_*) when its option is set; otherwise it keeps its last value.
struct LimitCheck {
    double value = 0;
    bool hasLo = false, lo = false;
    bool hasUp = false, up = false;
};
LimitCheck CheckLimits(double x, TNumEditOptions options, double minValue, double maxValue);

// Rounds x to double; false when it lies beyond the double range (overflow).
bool FitsDouble(long double x, double& out);

// Forms derived from a value being applied to a field of notation `base`.
struct ValueForms {
    double value = 0;
    float asSingle = 0;
    std::int32_t asInt = 0;
    QString asHex;   // uppercase, 32-bit pattern, at least digitsHex digits
    QString asBool;  // FormatBinary(asInt, digitsBool)
};
// `v` is first clamped into the range of `base`.
void DeriveForms(long double v, TEditBase base, int digitsHex, int digitsBool, ValueForms& out);

// The single form: rounded to single inside ±3.4e38, 3.4e38 (0x7F7FC99E)
// at or above, negative infinity below.
float ValueAsSingle(long double v);
// The integer form: ties to even inside ±2147483647, clamped outside.
std::int32_t ValueAsInt(long double v);

// Binary text of n from bit 0 upwards; digits = 0: as few as make up n
// (32 for negative n), digits = d > 0: d + 1 digits, at most 32.
QString FormatBinary(std::int32_t n, int digits);
// Reads 0/1 text from its last character backwards; weights wrap at 32 bits.
std::int32_t ParseBinary(const QString& s);

// Formats v with a pattern of '#' (optional digit), '0' (required digit) and
// '.' (the decimal separator), rounding the 15-digit decimal value half away
// from zero. Magnitudes of 1e18 and above use 15 significant digits with an
// exponent. Other pattern characters are ignored.
QString FormatPattern(double v, const QString& pattern, QChar decimal);

// Text of `forms` in notation `base` (binary, hexadecimal, pattern, integer).
QString TextForBase(const ValueForms& forms, TEditBase base, const QString& pattern,
                    QChar decimal);

}  // namespace quorvex
