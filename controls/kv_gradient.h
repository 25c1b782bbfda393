// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// TKvGradient: a control that fills its rectangle with a two-colour gradient
// in one of fourteen styles, its settings kept in TKvGradSettings.
// UI thread only (RenderGradient: any thread).

#include <QColor>
#include <QImage>
#include <QObject>
#include <QWidget>

namespace quorvex {

enum TGradientStyle {
    gsHorizontal1,
    gsHorizontal2,
    gsHorizontal3,
    gsVertical1,
    gsVertical2,
    gsVertical3,
    gsElliptic1,
    gsElliptic2,
    gsElliptic3,
    gsRectangle,
    gsDiamond1,
    gsDiamond2,
    gsTopLeft,
    gsTopRight,
};
inline constexpr int kGradientStyleCount = gsTopRight + 1;

// An object with a change event.
class TKvPersistent : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Fires OnChange(this).
    virtual void Change();
    // Fires OnChange(sender).
    virtual void ChangeObject(QObject* sender);

signals:
    void OnChange(QObject* sender);
};

class TKvGradSettings : public TKvPersistent {
    Q_OBJECT

public:
    using TKvPersistent::TKvPersistent;

    // Each setter stores and calls Change only when the value differs.
    QColor ColorFrom() const { return FColorFrom; }
    void SetColorFrom(const QColor& c);
    QColor ColorTo() const { return FColorTo; }
    void SetColorTo(const QColor& c);
    // Kept and copied; painting does not consult it.
    bool Visible() const { return FVisible; }
    void SetVisible(bool v);
    TGradientStyle Style() const { return FStyle; }
    void SetStyle(TGradientStyle s);

    // Writes the four settings to `dest` through its setters, then calls
    // its Change once more.
    void AssignTo(TKvGradSettings& dest) const;

private:
    QColor FColorFrom = QColor(0xE2, 0xE2, 0xE2);
    QColor FColorTo = QColor(0x8F, 0x8F, 0x8F);
    bool FVisible = false;
    TGradientStyle FStyle = gsHorizontal1;
};

// A painted control with an update counter.
class TKvGraphicControl : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;

    void BeginUpdate() { ++FUpdateCount; }
    // Lowers the count (never below 0); at 0 the control hears of changes.
    void EndUpdate();
    void Invalidate() { update(); }
    int UpdateCount() const { return FUpdateCount; }

protected:
    virtual void ChangeIfIdle();
    virtual void SettingsChanged(QObject* sender);

private:
    int FUpdateCount = 0;
};

class TKvGradient : public TKvGraphicControl {
    Q_OBJECT

public:
    explicit TKvGradient(QWidget* parent = nullptr);

    TKvGradSettings* GradSettings() const { return FGradSettings; }

    // End of setting up: from now on every setting change repaints.
    virtual void Loaded();

protected:
    void paintEvent(QPaintEvent* e) override;
    void SettingsChanged(QObject* sender) override;

private:
    TKvGradSettings* FGradSettings;
    bool FConnected = false;
};

// The gradient of `size` as an image; empty for a zero width or height.
QImage RenderGradient(QSize size, const QColor& colorFrom, TGradientStyle style,
                      const QColor& colorTo);

}  // namespace quorvex
