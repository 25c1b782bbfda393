// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary text to the numeric edit's checking and conversion, in
// every notation and with several locale separators, and checks what must
// hold whatever the text: bad positions lie inside the text, a converted
// value either fits a double or is refused as an overflow, and every text
// the field shows for a value is itself accepted by the field.

#include "controls/num_text.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

using namespace quorvex;

const NumSeparators kSeparators[] = {
    {u'.', u','},
    {u',', u'.'},
    {u',', QChar(0x00A0)},  // no-break space between thousands
    {u'.', u'\''},
};

void Require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const auto base = static_cast<TEditBase>(data[0] & 3);
    const NumSeparators& sep = kSeparators[(data[0] >> 2) & 3];
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data + 1),
                                           static_cast<qsizetype>(size - 1));

    const TextCheck typing = CheckText(text, base, sep, false);
    const TextCheck r = CheckText(text, base, sep, true);
    Require(typing.kind == r.kind || (typing.kind == TextCheck::kValid && r.kind == TextCheck::kConversionError));
    if (r.kind == TextCheck::kInvalid) {
        Require(r.firstBad >= 1 && r.firstBad <= r.lastBad && r.lastBad <= text.size());
        return 0;
    }
    if (r.kind == TextCheck::kConversionError) {
        Require(!r.error.isEmpty());
        return 0;
    }
    ParseBinary(text);
    double value = 0;
    if (!FitsDouble(r.number, value)) return 0;

    for (int b = ebBin; b <= ebInt; ++b) {
        ValueForms forms;
        DeriveForms(value, static_cast<TEditBase>(b), data[0] >> 4, data[0] >> 3, forms);
        for (const char* pattern : {"#0.#", "#0.00#"}) {
            const QString shown = TextForBase(forms, static_cast<TEditBase>(b), QString::fromLatin1(pattern),
                                              sep.decimal);
            const TextCheck again = CheckText(shown, static_cast<TEditBase>(b), sep, true);
            Require(again.kind == TextCheck::kValid);
        }
    }
    return 0;
}
