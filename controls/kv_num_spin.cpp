// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/kv_num_spin.h"

#include <QApplication>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QResizeEvent>

#include <algorithm>

namespace quorvex {

TKvNumSpin::TKvNumSpin(QWidget* parent) : TKvNumEdit(parent) {
    FButton = new TKvSpinButton(this);
    FButton->SetBounds(width() - 11, 0, 16, height() - 4);
    FButton->SetFocusControl(this);
    connect(FButton, &TKvSpinButton::OnUpClick, this, &TKvNumEdit::UpClick);
    connect(FButton, &TKvSpinButton::OnDownClick, this, &TKvNumEdit::DownClick);
    FButton->show();
    PlaceButton();
    UpdateEditRect();
}

TKvNumSpin::~TKvNumSpin() {
    delete FButton;
    FButton = nullptr;
}

int TKvNumSpin::MinEditHeight() const {
    const QFontMetrics systemMetrics(QApplication::font());
    const QFontMetrics metrics(font());
    constexpr int border = 1;
    return metrics.height() + std::min(systemMetrics.height(), metrics.height()) / 4 + 4 * border + 2;
}

QRect TKvNumSpin::ClientArea() const { return rect().adjusted(kBorder, kBorder, -kBorder, -kBorder); }

QRect TKvNumSpin::SpinButtonBounds(QSize editSize, int buttonWidth) {
    return {editSize.width() - buttonWidth - 4, 0, buttonWidth - 1, editSize.height() - 4};
}

void TKvNumSpin::SetState(TNumEditState s) {
    if (!FButton || s == State()) return;
    TKvNumEdit::SetState(s);
    UpdateArrows();
}

void TKvNumSpin::UpdateArrows() {
    // An arrow is available exactly when its step would be taken: a typed
    // number that is not applied yet, a limit or read-only leave none.
    FButton->UpButton()->setEnabled(FButton->isEnabled() && StepEnabled(true));
    FButton->DownButton()->setEnabled(FButton->isEnabled() && StepEnabled(false));
}

void TKvNumSpin::DoLimit() {
    if (FButton) UpdateArrows();
    TKvNumEdit::DoLimit();
}

void TKvNumSpin::changeEvent(QEvent* e) {
    TKvNumEdit::changeEvent(e);
    if (!FButton) return;
    if (e->type() == QEvent::EnabledChange) FButton->setEnabled(isEnabled());
    if (e->type() == QEvent::EnabledChange || e->type() == QEvent::ReadOnlyChange) UpdateArrows();
}

void TKvNumSpin::resizeEvent(QResizeEvent* e) {
    TKvNumEdit::resizeEvent(e);
    const int minHeight = MinEditHeight();
    if (height() < minHeight) {
        // The resize event this causes places the button.
        resize(width(), minHeight);
        return;
    }
    PlaceButton();
    UpdateEditRect();
}

void TKvNumSpin::PlaceButton() {
    if (!FButton) return;
    // The button's width is raised to 15 after each placement, which moves
    // the next placement by a pixel; it settles within a few rounds.
    for (int round = 0; round < 3; ++round) {
        const QRect before = FButton->geometry();
        // Inside the client area: the field's border stays visible around it.
        const QRect r = SpinButtonBounds(size(), FButton->width()).translated(ClientArea().topLeft());
        FButton->SetBounds(r.x(), r.y(), r.width(), r.height());
        if (FButton->geometry() == before) break;
    }
}

void TKvNumSpin::UpdateEditRect() {
    if (!FButton) return;
    // The text area ends before the button's left edge, so typed text never
    // runs under the arrows.
    setTextMargins(0, 0, std::max(0, width() - FButton->x()), 0);
}

void TKvNumSpin::focusOutEvent(QFocusEvent* e) {
    // A held arrow stops when the field loses the focus, whatever takes it.
    // A popup or another window takes the arrow's release as well: no
    // release will lift it.
    if (FButton) {
        const Qt::FocusReason r = e->reason();
        if (r == Qt::PopupFocusReason || r == Qt::ActiveWindowFocusReason) {
            FButton->EndPressElsewhere();
        } else {
            FButton->EndRepeat();
        }
    }
    TKvNumEdit::focusOutEvent(e);
    if (FButton) FButton->update();
}

}  // namespace quorvex
