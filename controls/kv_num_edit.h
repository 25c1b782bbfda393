// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// TKvNumEdit: a one-line field that holds one number, typed in one of four
// notations with an optional scale letter, committed with Enter or by
// leaving the field and stepped with the arrow keys. Its background shows
// whether the text is the accepted one, being edited or invalid.
// UI thread only.

#include "controls/num_text.h"

#include <QColor>
#include <QLineEdit>

#include <cstdint>

namespace quorvex {

class TKvNumEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit TKvNumEdit(QWidget* parent = nullptr);

    // End of setting up (the stored properties are in place): the current
    // text becomes the accepted one and OnValueChanged may fire from now on.
    virtual void Loaded();

    // Background per state. Writing ColorDefault recolours the field at once.
    QColor ColorDefault() const { return FColorDefault; }
    void SetColorDefault(const QColor& c);
    QColor ColorError() const { return FColorError; }
    void SetColorError(const QColor& c) { FColorError = c; }
    QColor ColorEditing() const { return FColorEditing; }
    void SetColorEditing(const QColor& c) { FColorEditing = c; }

    // Digit counts of the binary and hexadecimal texts (0: as few as needed).
    int DigitsBool() const { return FDigitsBool; }
    void SetDigitsBool(int d) { FDigitsBool = d; }
    int DigitsHex() const { return FDigitsHex; }
    void SetDigitsHex(int d) { FDigitsHex = d; }

    // Typing allowed; when false every typed character beeps, arrows still step.
    bool EditorEnabled() const { return FEditorEnabled; }
    void SetEditorEnabled(bool e) { FEditorEnabled = e; }

    // Rewrites the text in the new notation; no limit check, no event.
    TEditBase EditBase() const { return FEditBase; }
    void SetEditBase(TEditBase base);

    // Pattern of the float notation ("#0.#", "#0.00#").
    QString FormatStr() const { return FFormatStr; }
    void SetFormatStr(const QString& pattern);

    // Step of UpClick/DownClick, a single-precision value.
    float Increment() const { return FIncrement; }
    void SetIncrement(float inc) { FIncrement = inc; }

    // User limits, used with eoLimitMax / eoLimitMin. A change re-applies the text.
    double MaxValue() const { return FMaxValue; }
    void SetMaxValue(double v);
    double MinValue() const { return FMinValue; }
    void SetMinValue(double v);
    TNumEditOptions Options() const { return FOptions; }
    void SetOptions(TNumEditOptions o);

    TNumEditState State() const { return FState; }

    // The number. A write that changes it applies it within the limits.
    double Value() const { return FValue; }
    void SetValue(double x);

    // Derived forms. Writes apply the value given in that form.
    QString ValueAsBool() const { return FValueAsBool; }
    void SetValueAsBool(const QString& s);
    QString ValueAsHex() const { return FValueAsHex; }
    void SetValueAsHex(const QString& s);
    float ValueAsSingle() const { return FValueAsSingle; }
    void SetValueAsSingle(float v);
    std::int32_t ValueAsInt() const { return FValueAsInt; }
    void SetValueAsInt(std::int32_t v);

    // The value sits at the upper / lower user limit; a change calls DoLimit.
    bool LimitUp() const { return FLimitUp; }
    void SetLimitUp(bool v);
    bool LimitLo() const { return FLimitLo; }
    void SetLimitLo(bool v);

    // Whether a step up (or down) may happen now: the field is enabled and
    // writable, holds no typed text waiting to be applied, and the value is
    // not at that limit. The arrow keys, UpClick/DownClick and the spin
    // arrows all ask this one question; the arrow keys first apply typed
    // text that waits (see keyPressEvent).
    bool StepEnabled(bool up) const;

    // One step up / down by Increment (or times / divided by it with
    // eoMultiply). Refused with a beep when StepEnabled says no.
    virtual void UpClick();
    virtual void DownClick();

    // Checks the text; with `apply` a valid text becomes the value.
    void ValidateText(bool apply);

    // Locale separators in use (from the system locale at construction).
    const NumSeparators& Separators() const { return FSeparators; }
    void SetSeparators(const NumSeparators& sep) { FSeparators = sep; }

signals:
    // An applied value changed the text (only after Loaded).
    void OnValueChanged();
    // LimitUp or LimitLo changed.
    void OnLimit();
    // After an accepted step, and for keys other than an accepted step.
    void OnChange();

protected:
    virtual void SetState(TNumEditState s);
    virtual void DoLimit();

    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

    // Leaving the field: an empty text becomes "0" and the text is applied.
    void ExitField();

private:
    // Up or Down while typed text waits: a valid number is applied; anything
    // else puts the field into the error state with a beep, as a bad
    // keystroke does.
    void ApplyTypedText();
    void ApplyValue(long double v);
    double CheckedLimits(double x);
    void TextChanged();
    void Report(const QString& text);
    void Step(bool up);
    void ShowColor(const QColor& c);
    QString CurrentText() const;

    TEditBase FEditBase = ebFloat;
    bool FEditorEnabled = true;
    double FMinValue = 0;
    double FMaxValue = 0;
    float FIncrement = 1.0f;
    QString FOldText;
    double FValue = 0;
    QString FValueAsBool;
    QString FValueAsHex;
    float FValueAsSingle = 0;
    std::int32_t FValueAsInt = 0;
    TNumEditOptions FOptions;
    QString FFormatStr;
    TNumEditState FState = esNormal;
    bool FirstDraw = true;
    bool IgnoreChange = false;
    bool FLimitUp = false;
    bool FLimitLo = false;
    QColor FColorDefault;
    QColor FColorError;
    QColor FColorEditing;
    int FDigitsBool = 0;
    int FDigitsHex = 0;
    NumSeparators FSeparators;
    bool FReporting = false;  // an error report is showing: no second one
};

}  // namespace quorvex
