// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/kv_num_edit.h"

#include "controls/kv_services.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLocale>
#include <QPointer>

namespace quorvex {

namespace {

NumSeparators SystemSeparators() {
    const QLocale locale = QLocale::system();
    NumSeparators sep;
    if (!locale.decimalPoint().isEmpty()) sep.decimal = locale.decimalPoint().front();
    if (!locale.groupSeparator().isEmpty()) sep.thousands = locale.groupSeparator().front();
    return sep;
}

const QString kOverflowText = QStringLiteral(
    "Floating-point overflow: the number is too large for the field "
    "(the largest magnitude is about 1.7E308).");

bool IsFieldKey(int key) {
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape ||
           key == Qt::Key_Up || key == Qt::Key_Down;
}

}  // namespace

TKvNumEdit::TKvNumEdit(QWidget* parent)
    : QLineEdit(parent),
      FFormatStr(QStringLiteral("#0.#")),
      FColorError(255, 0, 0),
      FColorEditing(0, 255, 0),
      FSeparators(SystemSeparators()) {
    resize(65, sizeHint().height());
    setText(QStringLiteral("0"));
    FOldText = text();
    FColorDefault = palette().color(QPalette::Base);
    connect(this, &QLineEdit::textChanged, this, &TKvNumEdit::TextChanged);
    // The text is applied once, so the derived forms exist from the start.
    ValidateText(true);
    // The first text change after construction (normally the owner setting
    // the field's initial text or format) is not validated as typing.
    IgnoreChange = true;
}

void TKvNumEdit::Loaded() {
    FOldText = text();
    FirstDraw = false;
}

void TKvNumEdit::SetColorDefault(const QColor& c) {
    FColorDefault = c;
    ShowColor(c);
}

void TKvNumEdit::SetEditBase(TEditBase base) {
    if (base == FEditBase) return;
    FEditBase = base;
    setText(CurrentText());
    FOldText = text();
    SetState(esNormal);
}

void TKvNumEdit::SetFormatStr(const QString& pattern) {
    if (pattern == FFormatStr) return;
    FFormatStr = pattern;
    if (FEditBase == ebFloat) setText(FormatPattern(FValue, FFormatStr, FSeparators.decimal));
    ValidateText(true);
}

void TKvNumEdit::SetMaxValue(double v) {
    if (v == FMaxValue) return;
    FMaxValue = v;
    ValidateText(true);
}

void TKvNumEdit::SetMinValue(double v) {
    if (v == FMinValue) return;
    FMinValue = v;
    ValidateText(true);
}

void TKvNumEdit::SetOptions(TNumEditOptions o) {
    if (o == FOptions) return;
    FOptions = o;
    ValidateText(true);
}

void TKvNumEdit::SetValue(double x) {
    if (x == FValue) return;
    ApplyValue(CheckedLimits(x));
}

void TKvNumEdit::SetValueAsBool(const QString& s) {
    if (s == text()) return;
    setText(FEditBase == ebBin ? s : QStringLiteral("&") + s);
    ValidateText(true);
}

void TKvNumEdit::SetValueAsHex(const QString& s) {
    if (s == text()) return;
    setText(FEditBase == ebHex ? s : QStringLiteral("$") + s);
    ValidateText(true);
}

void TKvNumEdit::SetValueAsSingle(float v) {
    if (FormatPattern(v, FFormatStr, FSeparators.decimal) == text()) return;
    ApplyValue(v);
}

void TKvNumEdit::SetValueAsInt(std::int32_t v) {
    if (QString::number(v) == text()) return;
    ApplyValue(v);
}

void TKvNumEdit::SetLimitUp(bool v) {
    if (v == FLimitUp) return;
    FLimitUp = v;
    DoLimit();
}

void TKvNumEdit::SetLimitLo(bool v) {
    if (v == FLimitLo) return;
    FLimitLo = v;
    DoLimit();
}

void TKvNumEdit::UpClick() { Step(true); }
void TKvNumEdit::DownClick() { Step(false); }

bool TKvNumEdit::StepEnabled(bool up) const {
    // A step replaces the text with the stepped value: typed text that is
    // not applied yet would be lost, so there is no step while editing.
    return isEnabled() && !isReadOnly() && FState == esNormal && !(up ? FLimitUp : FLimitLo);
}

void TKvNumEdit::Step(bool up) {
    if (!StepEnabled(up)) {
        KvBeep();
        return;
    }
    // The text rewrite of this step must not be validated as typing.
    IgnoreChange = true;
    const long double v = FValue;
    const long double inc = FIncrement;
    const bool multiply =
        (FOptions & eoMultiply) && FEditBase == ebFloat && FIncrement != 0.0f && FValue != 0.0;
    const long double x = up ? (multiply ? v * inc : v + inc) : (multiply ? v / inc : v - inc);
    double d = 0;
    if (!FitsDouble(x, d)) {
        IgnoreChange = false;
        Report(kOverflowText);
        return;
    }
    SetValue(CheckedLimits(d));
    emit OnChange();
}

void TKvNumEdit::ValidateText(bool apply) {
    const QString t = text();
    const TextCheck check = CheckText(t, FEditBase, FSeparators, apply);
    if (check.kind == TextCheck::kEmpty) {
        SetState(esEditing);
        return;
    }
    if (check.kind == TextCheck::kInvalid) {
        SetState(esError);
        if (isEnabled() && isVisible()) setFocus();
        setSelection(check.firstBad - 1, check.lastBad - check.firstBad + 1);
        return;
    }
    SetState(t == FOldText || apply ? esNormal : esEditing);
    if (!apply) return;
    if (check.kind == TextCheck::kConversionError) {
        Report(check.error);
        return;
    }
    double x = 0;
    if (!FitsDouble(check.number, x)) {
        Report(kOverflowText);
        return;
    }
    ApplyValue(CheckedLimits(x));
}

double TKvNumEdit::CheckedLimits(double x) {
    const LimitCheck r = CheckLimits(x, FOptions, FMinValue, FMaxValue);
    if (r.hasLo) SetLimitLo(r.lo);
    if (r.hasUp) SetLimitUp(r.up);
    return r.value;
}

void TKvNumEdit::ApplyValue(long double v) {
    ValueForms forms;
    DeriveForms(v, FEditBase, FDigitsHex, FDigitsBool, forms);
    FValue = forms.value;
    FValueAsSingle = forms.asSingle;
    FValueAsInt = forms.asInt;
    FValueAsHex = forms.asHex;
    FValueAsBool = forms.asBool;
    setText(TextForBase(forms, FEditBase, FFormatStr, FSeparators.decimal));
    SetState(esNormal);
    if (!FirstDraw && text() != FOldText) emit OnValueChanged();
    FOldText = text();
}

QString TKvNumEdit::CurrentText() const {
    ValueForms forms;
    forms.value = FValue;
    forms.asSingle = FValueAsSingle;
    forms.asInt = FValueAsInt;
    forms.asHex = FValueAsHex;
    forms.asBool = FValueAsBool;
    return TextForBase(forms, FEditBase, FFormatStr, FSeparators.decimal);
}

void TKvNumEdit::TextChanged() {
    if (IgnoreChange) {
        IgnoreChange = false;
        return;
    }
    ValidateText(FValueAsBool.isEmpty());
}

void TKvNumEdit::SetState(TNumEditState s) {
    if (s == FState) return;
    FState = s;
    switch (s) {
    case esNormal: ShowColor(FColorDefault); break;
    case esEditing: ShowColor(FColorEditing); break;
    case esError:
        ShowColor(FColorError);
        // Paint now, so the error colour is on screen with the beep. Only
        // this widget is repainted: pending events are not dispatched here,
        // so no other handler can run in the middle of an edit.
        if (isVisible()) repaint();
        KvBeep();
        break;
    }
}

void TKvNumEdit::DoLimit() { emit OnLimit(); }

void TKvNumEdit::ShowColor(const QColor& c) {
    QPalette pal = palette();
    pal.setColor(QPalette::Base, c);
    setPalette(pal);
}

void TKvNumEdit::Report(const QString& text) {
    // A report may run a dialog with its own event loop; the field may lose
    // the focus to it and must not report a second time meanwhile.
    if (FReporting) return;
    QPointer<TKvNumEdit> self(this);
    FReporting = true;
    KvReportError(this, text);
    if (self) FReporting = false;
}

bool TKvNumEdit::event(QEvent* e) {
    // Enter, Esc and the arrows belong to the field, not to the window's
    // default button or shortcuts.
    if (e->type() == QEvent::ShortcutOverride && IsFieldKey(static_cast<QKeyEvent*>(e)->key())) {
        e->accept();
        return true;
    }
    return QLineEdit::event(e);
}

void TKvNumEdit::ApplyTypedText() {
    const TextCheck check = CheckText(text(), FEditBase, FSeparators, true);
    double unused = 0;
    if (check.kind == TextCheck::kValid && FitsDouble(check.number, unused)) {
        ValidateText(true);
        return;
    }
    // SetState beeps only on entering the error state; a key refused again
    // beeps again, as a refused step does.
    if (FState == esError) KvBeep();
    if (check.kind == TextCheck::kInvalid) {
        ValidateText(false);  // marks the bad characters
    } else {
        SetState(esError);
    }
}

void TKvNumEdit::keyPressEvent(QKeyEvent* e) {
    const int key = e->key();
    // Typed text waiting to be applied is applied first, so that the step
    // starts from what the user typed rather than throwing it away; text
    // that cannot be applied leaves the field in the error state, where the
    // key does not step.
    if ((key == Qt::Key_Up || key == Qt::Key_Down) && FState != esNormal && isEnabled() && !isReadOnly()) {
        ApplyTypedText();
    }
    if (key == Qt::Key_Up && StepEnabled(true)) {
        UpClick();
        e->accept();
        return;
    }
    if (key == Qt::Key_Down && StepEnabled(false)) {
        DownClick();
        e->accept();
        return;
    }
    if (FState != esNormal && key == Qt::Key_Escape) setText(CurrentText());
    emit OnChange();

    if (key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_Escape) {
        e->accept();
        return;
    }
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        e->accept();
        if (!FEditorEnabled) {
            KvBeep();
            return;
        }
        if (text().isEmpty()) setText(QStringLiteral("0"));
        ValidateText(true);
        return;
    }
    if (!FEditorEnabled) {
        const bool changesText = (!e->text().isEmpty() && e->text().front().isPrint()) ||
                                 key == Qt::Key_Backspace || key == Qt::Key_Delete ||
                                 e->matches(QKeySequence::Paste) || e->matches(QKeySequence::Cut) ||
                                 e->matches(QKeySequence::Undo) || e->matches(QKeySequence::Redo);
        if (changesText) {
            e->accept();
            KvBeep();
            return;
        }
    }
    QLineEdit::keyPressEvent(e);
}

void TKvNumEdit::focusInEvent(QFocusEvent* e) {
    QLineEdit::focusInEvent(e);
    const Qt::FocusReason r = e->reason();
    if (r != Qt::MouseFocusReason && r != Qt::ActiveWindowFocusReason && r != Qt::PopupFocusReason) {
        selectAll();
    }
}

void TKvNumEdit::focusOutEvent(QFocusEvent* e) {
    QLineEdit::focusOutEvent(e);
    // Another window coming to the front (a menu, a message box) leaves the
    // focus with this field within its own window: nothing is left yet.
    if (e->reason() == Qt::ActiveWindowFocusReason || e->reason() == Qt::PopupFocusReason) return;
    ExitField();
}

void TKvNumEdit::ExitField() {
    if (text().isEmpty()) setText(QStringLiteral("0"));
    ValidateText(true);
}

}  // namespace quorvex
