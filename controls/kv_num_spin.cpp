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

QRect TKvNumSpin::SpinButtonBounds(QSize editSize, int buttonWidth) {
    return {editSize.width() - buttonWidth - 4, 0, buttonWidth - 1, editSize.height() - 4};
}

void TKvNumSpin::SetState(TNumEditState s) {
    if (!FButton || s == State()) return;
    TKvNumEdit::SetState(s);
    UpdateArrows();
}

void TKvNumSpin::UpdateArrows() {
    // A typed number that is not applied yet leaves no arrow to press.
    const bool normal = State() == esNormal;
    FButton->UpButton()->setEnabled(normal && FButton->isEnabled() && !LimitUp());
    FButton->DownButton()->setEnabled(normal && FButton->isEnabled() && !LimitLo());
}

void TKvNumSpin::DoLimit() {
    if (FButton) {
        FButton->UpButton()->setEnabled(!LimitUp());
        FButton->DownButton()->setEnabled(!LimitLo());
    }
    TKvNumEdit::DoLimit();
}

void TKvNumSpin::changeEvent(QEvent* e) {
    TKvNumEdit::changeEvent(e);
    if (e->type() == QEvent::EnabledChange && FButton) {
        FButton->setEnabled(isEnabled());
        FButton->UpButton()->setEnabled(FButton->isEnabled() && !LimitUp());
        FButton->DownButton()->setEnabled(FButton->isEnabled() && !LimitLo());
    }
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
        const QRect r = SpinButtonBounds(size(), FButton->width());
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
    TKvNumEdit::focusOutEvent(e);
    if (FButton) FButton->update();
}

}  // namespace quorvex
