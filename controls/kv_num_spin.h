// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// TKvNumSpin: the numeric edit with a spin button at its right edge; the
// arrows step the number and repeat while held. Typed text stops short of
// the arrows, and the arrows are unavailable while a typed number waits to
// be applied. UI thread only.

#include "controls/kv_num_edit.h"
#include "controls/kv_spin_button.h"

#include <QRect>
#include <QSize>

namespace quorvex {

class TKvNumSpin : public TKvNumEdit {
    Q_OBJECT

public:
    explicit TKvNumSpin(QWidget* parent = nullptr);
    ~TKvNumSpin() override;

    // Repeat timing of the arrows (ms), read from and written to the spin button.
    int Interval() const { return FButton->Interval(); }
    void SetInterval(int ms) { FButton->SetInterval(ms); }
    int StartDelay() const { return static_cast<int>(FButton->StartDelay()); }
    void SetStartDelay(int ms) { FButton->SetStartDelay(static_cast<std::uint32_t>(ms)); }

    TKvSpinButton* Button() const { return FButton; }

    // The lowest height at which the text fits: font height, a quarter of
    // the smaller of the system and control font heights, borders.
    int MinEditHeight() const;

    // The part of the field inside its three-dimensional border, in the
    // field's coordinates; the spin button is placed relative to it.
    QRect ClientArea() const;

    // Where a spin button of width `buttonWidth` goes inside an edit of
    // `editSize` (before its width is raised to 15), relative to the
    // edit's client area.
    static QRect SpinButtonBounds(QSize editSize, int buttonWidth);

    // The width of the border around the client area.
    static constexpr int kBorder = 2;

protected:
    void SetState(TNumEditState s) override;
    void DoLimit() override;
    void resizeEvent(QResizeEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void PlaceButton();
    void UpdateEditRect();
    void UpdateArrows();

    TKvSpinButton* FButton = nullptr;
};

}  // namespace quorvex
