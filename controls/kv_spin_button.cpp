// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/kv_spin_button.h"

#include "controls/kv_services.h"

#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QResizeEvent>

#include <algorithm>

namespace quorvex {

namespace {

constexpr QRgb kOlive = qRgb(128, 128, 0);
constexpr QRgb kBlack = qRgb(0, 0, 0);
constexpr QRgb kGrey = qRgb(128, 128, 128);

// Rows of the two 9 x 6 cells: '#' arrow pixel, '.' background.
using GlyphRows = const char* const[6];

constexpr GlyphRows kUpEnabled = {"....#....", "...###...", "..#####..", ".#######.", ".........", "........."};
constexpr GlyphRows kUpDisabled = {"....#....", "...#.#...", "..#...#..", ".#######.", ".........", "........."};
constexpr GlyphRows kDownEnabled = {".#######.", "..#####..", "...###...", "....#....", ".........", "........."};
constexpr GlyphRows kDownDisabled = {".#######.", "..#...#..", "...#.#...", "....#....", ".........", "........."};

QImage GlyphStrip(const GlyphRows& enabled, const GlyphRows& disabled) {
    QImage img(18, 6, QImage::Format_RGB32);
    img.fill(kOlive);
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 9; ++x) {
            if (enabled[y][x] == '#') img.setPixel(x, y, kBlack);
            if (disabled[y][x] == '#') img.setPixel(9 + x, y, kGrey);
        }
    }
    return img;
}

}  // namespace

QImage KvSpinUp() { return GlyphStrip(kUpEnabled, kUpDisabled); }
QImage KvSpinDown() { return GlyphStrip(kDownEnabled, kDownDisabled); }

QPixmap GlyphCell(const QImage& strip, int cell, int numGlyphs) {
    if (strip.isNull() || numGlyphs < 1) return {};
    const int w = strip.width() / numGlyphs;
    if (w < 1) return {};
    // The bottom-left pixel names the transparent colour.
    const QRgb transparent = strip.pixel(0, strip.height() - 1);
    QImage c = strip.copy(cell * w, 0, w, strip.height()).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < c.height(); ++y) {
        for (int x = 0; x < c.width(); ++x) {
            if ((c.pixel(x, y) & 0xFFFFFFu) == (transparent & 0xFFFFFFu)) c.setPixel(x, y, 0);
        }
    }
    return QPixmap::fromImage(c);
}

TKvTimerSpeedBtn::TKvTimerSpeedBtn(QWidget* parent) : QToolButton(parent) {
    setAutoRaise(true);
    setFocusPolicy(Qt::NoFocus);
}

TKvTimerSpeedBtn::~TKvTimerSpeedBtn() { EndRepeat(); }

void TKvTimerSpeedBtn::SetInterval(int ms) {
    if (ms >= 50) FInterval = ms;
}

void TKvTimerSpeedBtn::SetGlyph(const QImage& strip, int numGlyphs) {
    FGlyph = strip;
    FNumGlyphs = std::clamp(numGlyphs, 1, 4);
    UpdateIcon();
}

void TKvTimerSpeedBtn::UpdateIcon() {
    QIcon icon;
    if (!FGlyph.isNull()) {
        icon.addPixmap(GlyphCell(FGlyph, 0, FNumGlyphs), QIcon::Normal);
        if (FNumGlyphs >= 2) icon.addPixmap(GlyphCell(FGlyph, 1, FNumGlyphs), QIcon::Disabled);
        setIconSize(QSize(FGlyph.width() / FNumGlyphs, FGlyph.height()));
    }
    setIcon(icon);
}

void TKvTimerSpeedBtn::Click() { emit clicked(false); }

void TKvTimerSpeedBtn::RepeatMessage(std::uint32_t, std::uint32_t) {
    // A popup or another widget holding the mouse takes the release that
    // would end this press; no event tells the button, so it looks here.
    const QWidget* grabber = QWidget::mouseGrabber();
    if (QApplication::activePopupWidget() || (grabber && grabber != this)) {
        EndPressElsewhere();
        return;
    }
    // Messages before the start delay has passed only keep the cadence.
    if (KvTickCount() >= StartTime) Click();
}

void TKvTimerSpeedBtn::mousePressEvent(QMouseEvent* e) {
    QToolButton::mousePressEvent(e);
    // Any mouse button holds the repeat; only the left one presses the button.
    e->accept();
    emit OnMouseDown(e->button());
    if (FTimerEnabled) {
        StartTime = KvTickCount() + FStartDelay;
        RegisterRepeat(this, FInterval);
        FRegistered = true;
    }
}

bool TKvTimerSpeedBtn::event(QEvent* e) {
    switch (e->type()) {
    case QEvent::MouseButtonRelease: {
        // Any button's release ends the press; the left one's release over
        // the button clicks first. A disabled button gets the event here too.
        const bool handled = QToolButton::event(e);
        EndRepeat();
        return handled;
    }
    case QEvent::ContextMenu:      // the menu that opens takes the release
    case QEvent::WindowDeactivate:  // so does the window that comes to the front
    case QEvent::Hide:              // a hidden button loses the mouse
        EndPressElsewhere();
        break;
    case QEvent::EnabledChange:
        if (!isEnabled()) EndRepeat();
        break;
    default: break;
    }
    return QToolButton::event(e);
}

void TKvTimerSpeedBtn::EndPressElsewhere() {
    EndRepeat();
    // No release will come to lift the button: it would stay drawn pressed.
    if (isDown()) setDown(false);
}

void TKvTimerSpeedBtn::EndRepeat() {
    if (!FRegistered) return;
    FRegistered = false;
    UnregisterRepeat(this);
}

TKvSpinButton::TKvSpinButton(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    setAutoFillBackground(true);
    setCursor(Qt::ArrowCursor);
    FUpButton = CreateButton();
    FDownButton = CreateButton();
    SetUpGlyph({});
    SetDownGlyph({});
    SetBounds(x(), y(), 15, 24);
}

TKvTimerSpeedBtn* TKvSpinButton::CreateButton() {
    auto* b = new TKvTimerSpeedBtn(this);
    connect(b, &QAbstractButton::clicked, this, [this, b] {
        if (b == FUpButton) {
            emit OnUpClick();
        } else {
            emit OnDownClick();
        }
    });
    connect(b, &TKvTimerSpeedBtn::OnMouseDown, this, &TKvSpinButton::HandleButtonPress);
    b->show();
    return b;
}

void TKvSpinButton::EndRepeat() {
    FUpButton->EndRepeat();
    FDownButton->EndRepeat();
}

void TKvSpinButton::EndPressElsewhere() {
    FUpButton->EndPressElsewhere();
    FDownButton->EndPressElsewhere();
}

void TKvSpinButton::SetBounds(int left, int top, int width, int height) {
    FitButtons(width, height);
    setGeometry(left, top, width, height);
}

void TKvSpinButton::FitButtons(int& width, int& height) {
    if (!FUpButton || !FDownButton) return;
    width = std::max(width, 15);
    FUpButton->setGeometry(0, 0, width, height / 2);
    FDownButton->setGeometry(0, FUpButton->height(), width, height - FUpButton->height());
}

void TKvSpinButton::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    int w = width();
    int h = height();
    FitButtons(w, h);
    if (w != width() || h != height()) setGeometry(x(), y(), w, h);
}

void TKvSpinButton::SetUpGlyph(const QImage& strip) {
    if (strip.isNull()) {
        FUpButton->SetGlyph(KvSpinUp(), 2);
    } else {
        FUpButton->SetGlyph(strip, FUpButton->NumGlyphs());
    }
}

void TKvSpinButton::SetDownGlyph(const QImage& strip) {
    if (strip.isNull()) {
        FDownButton->SetGlyph(KvSpinDown(), 2);
    } else {
        FDownButton->SetGlyph(strip, FDownButton->NumGlyphs());
    }
}

void TKvSpinButton::SetUpNumGlyphs(int n) { FUpButton->SetGlyph(FUpButton->Glyph(), n); }
void TKvSpinButton::SetDownNumGlyphs(int n) { FDownButton->SetGlyph(FDownButton->Glyph(), n); }

void TKvSpinButton::SetInterval(int ms) {
    FUpButton->SetInterval(ms);
    FDownButton->SetInterval(ms);
}

void TKvSpinButton::SetStartDelay(std::uint32_t ms) {
    FUpButton->SetStartDelay(ms);
    FDownButton->SetStartDelay(ms);
}

void TKvSpinButton::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Up) {
        FUpButton->Click();
    } else if (e->key() == Qt::Key_Down) {
        FDownButton->Click();
    }
    e->accept();
}

void TKvSpinButton::changeEvent(QEvent* e) {
    QWidget::changeEvent(e);
    if (e->type() == QEvent::EnabledChange) {
        FUpButton->setEnabled(isEnabled());
        FDownButton->setEnabled(isEnabled());
    }
}

void TKvSpinButton::HandleButtonPress(Qt::MouseButton button) {
    if (button != Qt::LeftButton) {
        emit OnMouseDown(button);
        return;
    }
    QWidget* target = FFocusControl;
    if (target && (target->focusPolicy() & Qt::TabFocus) && target->isEnabled() && target->isVisible()) {
        if (!target->hasFocus()) target->setFocus(Qt::OtherFocusReason);
    } else if ((focusPolicy() & Qt::TabFocus) && !hasFocus() && isEnabled() && isVisible()) {
        setFocus(Qt::OtherFocusReason);
    }
}

}  // namespace quorvex
