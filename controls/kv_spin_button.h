// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Auto-repeat arrow buttons: TKvTimerSpeedBtn clicks itself again and again
// while held, after a start delay; TKvSpinButton stacks an up and a down one
// with the built-in arrow glyphs. UI thread only.

#include "controls/kv_repeat.h"

#include <QPixmap>
#include <QPointer>
#include <QToolButton>

#include <cstdint>

namespace quorvex {

// The built-in arrows: 18 x 6 pixels, an enabled cell and a disabled cell
// of 9 x 6 side by side, olive (128, 128, 0) as the transparent colour.
QImage KvSpinUp();
QImage KvSpinDown();
// One cell of such a glyph strip, olive made transparent.
QPixmap GlyphCell(const QImage& strip, int cell, int numGlyphs);

class TKvTimerSpeedBtn : public QToolButton, public KvRepeatTarget {
    Q_OBJECT

public:
    explicit TKvTimerSpeedBtn(QWidget* parent = nullptr);
    ~TKvTimerSpeedBtn() override;

    // Milliseconds between repeats; values below 50 are ignored.
    int Interval() const { return FInterval; }
    void SetInterval(int ms);
    bool TimerEnabled() const { return FTimerEnabled; }
    void SetTimerEnabled(bool e) { FTimerEnabled = e; }
    // Milliseconds from the press to the first repeat click.
    std::uint32_t StartDelay() const { return FStartDelay; }
    void SetStartDelay(std::uint32_t ms) { FStartDelay = ms; }

    // The glyph strip and its number of cells (first cell enabled, second
    // disabled).
    void SetGlyph(const QImage& strip, int numGlyphs);
    QImage Glyph() const { return FGlyph; }
    int NumGlyphs() const { return FNumGlyphs; }

    // Fires clicked(), enabled or not.
    void Click();

    // Ends the repeat of a held button, if any. The repeat also ends by
    // itself with the press: on the release of any mouse button, a context
    // menu request, the window's deactivation, disabling or hiding the
    // button, and a popup or mouse grab elsewhere.
    void EndRepeat();
    bool Repeating() const { return FRegistered; }
    // The press ended where the button does not see its release (a menu, a
    // grab, another window): the repeat ends and the button comes up.
    void EndPressElsewhere();

    void RepeatMessage(std::uint32_t tickCounter, std::uint32_t lateness) override;

signals:
    void OnMouseDown(Qt::MouseButton button);

protected:
    bool event(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;

private:
    void UpdateIcon();

    int FInterval = 100;
    std::uint32_t FStartDelay = 500;
    bool FTimerEnabled = true;
    std::uint32_t StartTime = 0;
    bool FRegistered = false;
    QImage FGlyph;
    int FNumGlyphs = 1;
};

class TKvSpinButton : public QWidget {
    Q_OBJECT

public:
    explicit TKvSpinButton(QWidget* parent = nullptr);

    // Moves and sizes the control; the width is raised to at least 15 and
    // the buttons split the height, the down one taking the odd pixel.
    void SetBounds(int left, int top, int width, int height);

    TKvTimerSpeedBtn* UpButton() const { return FUpButton; }
    TKvTimerSpeedBtn* DownButton() const { return FDownButton; }

    // A null image reloads the built-in arrow.
    QImage UpGlyph() const { return FUpButton->Glyph(); }
    void SetUpGlyph(const QImage& strip);
    QImage DownGlyph() const { return FDownButton->Glyph(); }
    void SetDownGlyph(const QImage& strip);
    int UpNumGlyphs() const { return FUpButton->NumGlyphs(); }
    void SetUpNumGlyphs(int n);
    int DownNumGlyphs() const { return FDownButton->NumGlyphs(); }
    void SetDownNumGlyphs(int n);

    // Ends the repeat of both arrows.
    void EndRepeat();
    // Ends the press of both arrows, whose release goes elsewhere.
    void EndPressElsewhere();

    // The field that takes the focus when an arrow is pressed.
    QWidget* FocusControl() const { return FFocusControl; }
    void SetFocusControl(QWidget* w) { FFocusControl = w; }

    // Read from the up button, written to both.
    int Interval() const { return FUpButton->Interval(); }
    void SetInterval(int ms);
    std::uint32_t StartDelay() const { return FUpButton->StartDelay(); }
    void SetStartDelay(std::uint32_t ms);

signals:
    void OnUpClick();
    void OnDownClick();
    void OnMouseDown(Qt::MouseButton button);

protected:
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    TKvTimerSpeedBtn* CreateButton();
    void FitButtons(int& width, int& height);
    void HandleButtonPress(Qt::MouseButton button);

    QPointer<QWidget> FFocusControl;
    TKvTimerSpeedBtn* FUpButton = nullptr;
    TKvTimerSpeedBtn* FDownButton = nullptr;
};

}  // namespace quorvex
