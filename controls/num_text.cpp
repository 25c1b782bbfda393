// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/num_text.h"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <string>

namespace quorvex {

namespace {

constexpr long double kIntMin = -2147483647.0L;
constexpr long double kIntMax = 2147483647.0L;

bool IsExpLetter(QChar c) { return c == u'E' || c == u'e'; }

TEditBase PrefixNotation(QChar c, bool& isPrefix) {
    isPrefix = true;
    switch (c.unicode()) {
    case u'!': return ebFloat;
    case u'$': return ebHex;
    case u'%': return ebInt;
    case u'&': return ebBin;
    default: isPrefix = false; return ebFloat;
    }
}

// Reads text that passed the character scan as a long double. The scan lets
// through shapes the conversion must still refuse ("1e", "1e2.5", "."), so
// the grammar is checked here before the C library sees the text; strtold
// itself would accept a prefix and quietly ignore the rest.
bool ParseFloatBody(const QString& body, QChar decimal, long double& out) {
    std::string s;
    s.reserve(static_cast<std::size_t>(body.size()));
    int i = 0;
    const int n = static_cast<int>(body.size());
    auto digitsAt = [&](int& k) {
        const int from = k;
        while (k < n && body[k].isDigit() && body[k].unicode() < 128) {
            s.push_back(static_cast<char>(body[k].unicode()));
            ++k;
        }
        return k - from;
    };
    if (i < n && (body[i] == u'+' || body[i] == u'-')) s.push_back(static_cast<char>(body[i++].unicode()));
    int mantissa = digitsAt(i);
    if (i < n && body[i] == decimal) {
        s.push_back('.');
        ++i;
        mantissa += digitsAt(i);
    }
    if (mantissa == 0) return false;
    if (i < n && IsExpLetter(body[i])) {
        s.push_back('e');
        ++i;
        if (i < n && (body[i] == u'+' || body[i] == u'-')) s.push_back(static_cast<char>(body[i++].unicode()));
        if (digitsAt(i) == 0) return false;
    }
    if (i != n) return false;

    // The C locale, whatever locale the application has set: the decimal
    // separator was already mapped to '.'.
    static const locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr));
    char* end = nullptr;
    errno = 0;
    out = strtold_l(s.c_str(), &end, cLocale);
    // ERANGE: beyond even the extended range the result is ±HUGE_VALL, which
    // the caller reports as an overflow; an underflow keeps its tiny result.
    return end == s.c_str() + s.size();
}

bool ParseHexBody(const QString& body, long double& out) {
    std::uint64_t v = 0;
    int significant = 0;
    for (QChar c : body) {
        const int d = QString(c).toInt(nullptr, 16);
        if (significant > 0 || d != 0) ++significant;
        if (significant > 8) return false;
        v = v * 16 + static_cast<std::uint64_t>(d);
    }
    // Eight digits with the top bit set read as a negative number.
    out = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    return true;
}

bool ParseIntBody(const QString& body, long double& out) {
    int i = 0;
    bool negative = false;
    if (!body.isEmpty() && (body[0] == u'+' || body[0] == u'-')) {
        negative = body[0] == u'-';
        i = 1;
    }
    if (i == body.size()) return false;
    std::int64_t v = 0;
    for (; i < body.size(); ++i) {
        const QChar c = body[i];
        if (c < u'0' || c > u'9') return false;
        v = v * 10 + (c.unicode() - u'0');
        if (v > 2147483648LL) return false;
    }
    if (negative) v = -v;
    if (v > 2147483647LL) return false;
    out = static_cast<long double>(v);
    return true;
}

// General format for magnitudes the pattern cannot sensibly spell out.
// Numbers are written as in the C locale (to_chars ignores the user's,
// whose separator may take several bytes) and the field's separator goes in
// afterwards.
QString GeneralFormat(double v, QChar decimal) {
    char buf[40];
    const std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
    QString s = QString::fromLatin1(buf, r.ptr - buf).toUpper();
    s.replace(u'.', decimal);
    return s;
}

}  // namespace

TBaseProperties BaseProperties(TEditBase base, const NumSeparators& sep) {
    const QString digits = QStringLiteral("0123456789");
    switch (base) {
    case ebBin: return {QStringLiteral("01"), false, false, QString(), kIntMin, kIntMax};
    case ebHex:
        return {QStringLiteral("0123456789abcdefABCDEF"), false, false, QString(), kIntMin, kIntMax};
    case ebFloat:
        // The lower bound lies below every double: in effect none.
        return {digits + sep.decimal + sep.thousands, true, true, QStringLiteral("+-"), -5.0e324L,
                1.7e308L};
    case ebInt:
        return {digits + sep.thousands, false, true, QStringLiteral("+-"), kIntMin, kIntMax};
    }
    return {};
}

float ScaleFactor(QChar letter) {
    static constexpr float factors[] = {1e18f, 1e15f, 1e12f, 1e9f, 1e6f,  1e3f,
                                        1e-3f, 1e-6f, 1e-9f, 1e-12f, 1e-15f, 1e-18f};
    const QString letters = QString::fromUtf16(kMultiplierLetters);
    const auto i = letters.indexOf(letter);
    return i < 0 ? 0.0f : factors[i];
}

TextCheck CheckText(const QString& text, TEditBase base, const NumSeparators& sep, bool convert) {
    TextCheck r;
    r.notation = base;
    if (text.isEmpty()) return r;

    // Positions are 1-based, as in the selection they end up in.
    auto at = [&text](int i) { return text[i - 1]; };
    int start = 1;
    bool isPrefix = false;
    const TEditBase prefixed = PrefixNotation(text[0], isPrefix);
    if (isPrefix) {
        r.notation = prefixed;
        start = 2;
    }
    const TBaseProperties p = BaseProperties(r.notation, sep);
    int last = static_cast<int>(text.size());
    float factor = 1.0f;

    if (p.MultiEnable) {
        const float f = ScaleFactor(at(last));
        if (f != 0.0f) {
            factor = f;
            if (r.notation == ebFloat) {
                --last;
            } else if (factor > 1.0f) {
                --last;
            } else {
                // A fraction letter stays in an integer text and fails the scan.
                factor = 1.0f;
            }
        }
    }
    QString body = last >= start ? text.mid(start - 1, last - start + 1) : QString();

    if (!body.isEmpty()) {
        auto markBad = [&r](int j) {
            if (r.firstBad == 0) {
                r.firstBad = j;
                r.lastBad = j;
            } else {
                r.lastBad = std::max(r.lastBad, j);
            }
        };
        int i = start;
        if (p.Sign.contains(at(start))) ++i;
        bool expFound = false;
        for (; i <= last; ++i) {
            if (p.ExpEnable && IsExpLetter(at(i))) {
                expFound = true;
                break;
            }
            if (!p.ValidChars.contains(at(i))) markBad(i);
        }
        if (expFound) {
            ++i;
            if (i <= last && p.Sign.contains(at(i))) ++i;
            for (; i <= last; ++i) {
                if (!p.ValidChars.contains(at(i))) markBad(i);
            }
        }
        int separators = 0;
        for (int j = start; j <= last; ++j) {
            if (at(j) == sep.decimal && ++separators > 1) markBad(j);
        }
    }
    if (r.firstBad > 0) {
        r.kind = TextCheck::kInvalid;
        return r;
    }

    r.kind = TextCheck::kValid;
    if (!body.isEmpty() && p.Sign.contains(body)) body += u'0';
    if (p.ExpEnable && !body.isEmpty() && IsExpLetter(body[0])) body.prepend(u'1');
    if (p.MultiEnable && factor != 1.0f && body.isEmpty()) body = QStringLiteral("1");
    body.remove(sep.thousands);
    if (!convert) return r;

    long double number = 0;
    bool ok = true;
    if (!body.isEmpty()) {
        switch (r.notation) {
        case ebBin: number = ParseBinary(body); break;
        case ebHex: ok = ParseHexBody(body, number); break;
        case ebFloat: ok = ParseFloatBody(body, sep.decimal, number); break;
        case ebInt: ok = ParseIntBody(body, number); break;
        }
    }
    if (!ok) {
        // The message quotes the text as typed, not the body read from it.
        r.kind = TextCheck::kConversionError;
        switch (r.notation) {
        case ebHex: r.error = QStringLiteral("\"%1\" is not a valid 32-bit hexadecimal number.").arg(text); break;
        case ebInt: r.error = QStringLiteral("\"%1\" is not a valid 32-bit integer.").arg(text); break;
        default: r.error = QStringLiteral("\"%1\" is not a valid floating-point number.").arg(text); break;
        }
        return r;
    }
    if (factor != 1.0f) number *= static_cast<long double>(factor);
    r.number = number;
    return r;
}

LimitCheck CheckLimits(double x, TNumEditOptions options, double minValue, double maxValue) {
    LimitCheck r;
    r.value = x;
    if (options & eoLimitMin) {
        r.hasLo = true;
        r.lo = x <= minValue;
        if (r.lo) r.value = minValue;
    }
    if (options & eoLimitMax) {
        r.hasUp = true;
        r.up = x >= maxValue;
        if (r.up) r.value = maxValue;
    }
    return r;
}

float ValueAsSingle(long double v) {
    if (v >= -3.4e38L && v < 3.4e38L) return static_cast<float>(v);
    if (v >= 3.4e38L) return 3.4e38f;
    return -INFINITY;
}

std::int32_t ValueAsInt(long double v) {
    if (v > kIntMin && v < kIntMax) return static_cast<std::int32_t>(std::nearbyintl(v));
    if (v >= kIntMax) return 2147483647;
    return -2147483647;
}

void DeriveForms(long double v, TEditBase base, int digitsHex, int digitsBool, ValueForms& out) {
    static const NumSeparators anySeparators;
    const TBaseProperties p = BaseProperties(base, anySeparators);
    if (v < p.MinValue) v = p.MinValue;
    if (v > p.MaxValue) v = p.MaxValue;
    out.asSingle = ValueAsSingle(v);
    out.asInt = ValueAsInt(v);
    out.value = static_cast<double>(v);
    out.asHex = QString::number(static_cast<std::uint32_t>(out.asInt), 16)
                    .toUpper()
                    .rightJustified(std::max(digitsHex, 0), u'0');
    out.asBool = FormatBinary(out.asInt, digitsBool);
}

bool FitsDouble(long double x, double& out) {
    out = static_cast<double>(x);
    return std::isfinite(out);
}

QString FormatBinary(std::int32_t n, int digits) {
    if (digits < 0) digits = 0;
    const auto u = static_cast<std::uint32_t>(n);
    QString s;
    for (int bit = 0; bit < 32; ++bit) {
        s.prepend((u >> bit) & 1u ? u'1' : u'0');
        if (digits == 0) {
            if (bit == 31 || (u >> bit >> 1) == 0) break;
        } else if (bit >= digits) {
            break;
        }
    }
    return s;
}

std::int32_t ParseBinary(const QString& s) {
    std::uint32_t weight = 1;
    std::uint32_t r = 0;
    for (auto i = s.size(); i > 0; --i) {
        if (s[i - 1] == u'1') r += weight;
        weight <<= 1;
    }
    return static_cast<std::int32_t>(r);
}

QString FormatPattern(double v, const QString& pattern, QChar decimal) {
    int minInt = 0, minFrac = 0, maxFrac = 0;
    bool seenDot = false, placeholders = false;
    for (QChar c : pattern) {
        if (c == u'.') {
            seenDot = true;
        } else if (c == u'0') {
            placeholders = true;
            if (seenDot) {
                ++minFrac;
                ++maxFrac;
            } else {
                ++minInt;
            }
        } else if (c == u'#') {
            placeholders = true;
            if (seenDot) ++maxFrac;
        }
    }
    const double a = std::fabs(v);
    if (!placeholders || !std::isfinite(v) || a >= 1e18) return GeneralFormat(v, decimal);

    // The decimal value: 15 significant digits of the double, then rounded
    // half away from zero at the last shown place.
    std::string ds(15, '0');
    int e = 0;
    if (a != 0.0) {
        // d.dddddddddddddde±x, in the C locale whatever the user's: the
        // digits are read at fixed places.
        char buf[40];
        const std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific, 14);
        ds[0] = buf[0];
        for (int k = 1; k < 15; ++k) ds[static_cast<std::size_t>(k)] = buf[k + 1];
        std::from_chars(buf + 17 + (buf[17] == '+'), r.ptr, e);
    }
    auto digitAt = [&](int place) {
        const int k = e - place;
        return k >= 0 && k < 15 ? ds[static_cast<std::size_t>(k)] : '0';
    };
    std::string s;
    for (int place = std::max(e, 0); place >= -maxFrac; --place) s.push_back(digitAt(place));
    if (digitAt(-maxFrac - 1) >= '5') {
        auto k = s.size();
        while (k > 0 && s[k - 1] == '9') s[--k] = '0';
        if (k == 0) {
            s.insert(s.begin(), '1');
        } else {
            ++s[k - 1];
        }
    }
    std::string intPart = s.substr(0, s.size() - static_cast<std::size_t>(maxFrac));
    std::string frac = s.substr(s.size() - static_cast<std::size_t>(maxFrac));
    const bool nonzero = s.find_first_not_of('0') != std::string::npos;
    const auto firstNonZero = intPart.find_first_not_of('0');
    intPart = firstNonZero == std::string::npos ? std::string() : intPart.substr(firstNonZero);
    if (static_cast<int>(intPart.size()) < minInt) {
        intPart.insert(0, static_cast<std::size_t>(minInt) - intPart.size(), '0');
    }
    while (static_cast<int>(frac.size()) > minFrac && frac.back() == '0') frac.pop_back();

    QString out;
    if (v < 0 && nonzero) out += u'-';
    out += QString::fromLatin1(intPart.c_str());
    if (!frac.empty()) {
        out += decimal;
        out += QString::fromLatin1(frac.c_str());
    }
    if (out.isEmpty() || out == QStringLiteral("-")) out = QStringLiteral("0");
    return out;
}

QString TextForBase(const ValueForms& forms, TEditBase base, const QString& pattern, QChar decimal) {
    switch (base) {
    case ebBin: return forms.asBool;
    case ebHex: return forms.asHex;
    case ebFloat: return FormatPattern(forms.value, pattern, decimal);
    case ebInt: return QString::number(forms.asInt);
    }
    return {};
}

}  // namespace quorvex
