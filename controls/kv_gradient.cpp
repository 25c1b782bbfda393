// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/kv_gradient.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPolygon>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace quorvex {

void TKvPersistent::Change() { emit OnChange(this); }
void TKvPersistent::ChangeObject(QObject* sender) { emit OnChange(sender); }

void TKvGradSettings::SetColorFrom(const QColor& c) {
    if (c == FColorFrom) return;
    FColorFrom = c;
    Change();
}

void TKvGradSettings::SetColorTo(const QColor& c) {
    if (c == FColorTo) return;
    FColorTo = c;
    Change();
}

void TKvGradSettings::SetVisible(bool v) {
    if (v == FVisible) return;
    FVisible = v;
    Change();
}

void TKvGradSettings::SetStyle(TGradientStyle s) {
    if (s == FStyle) return;
    FStyle = s;
    Change();
}

void TKvGradSettings::AssignTo(TKvGradSettings& dest) const {
    dest.SetColorFrom(FColorFrom);
    dest.SetColorTo(FColorTo);
    dest.SetVisible(FVisible);
    dest.SetStyle(FStyle);
    dest.Change();
}

void TKvGraphicControl::EndUpdate() {
    if (FUpdateCount > 0) --FUpdateCount;
    if (FUpdateCount == 0) ChangeIfIdle();
}

void TKvGraphicControl::ChangeIfIdle() {
    if (FUpdateCount == 0) SettingsChanged(this);
}

void TKvGraphicControl::SettingsChanged(QObject*) {}

TKvGradient::TKvGradient(QWidget* parent) : TKvGraphicControl(parent), FGradSettings(new TKvGradSettings(this)) {
    resize(50, 50);
}

void TKvGradient::Loaded() {
    if (!FConnected) {
        connect(FGradSettings, &TKvPersistent::OnChange, this, [this](QObject* sender) { SettingsChanged(sender); });
        FConnected = true;
    }
    EndUpdate();
}

void TKvGradient::SettingsChanged(QObject* sender) {
    TKvGraphicControl::SettingsChanged(sender);
    Invalidate();
}

void TKvGradient::paintEvent(QPaintEvent*) {
    if (width() <= 0 || height() <= 0) return;
    QPainter painter(this);
    painter.drawImage(0, 0,
                      RenderGradient(size(), FGradSettings->ColorFrom(), FGradSettings->Style(),
                                     FGradSettings->ColorTo()));
}

namespace {

// Colours between two end points in Q steps. The per-channel steps are
// single-precision values, as the arithmetic has always used them; the
// rounding of k × step is to nearest, ties to even.
class Ramp {
public:
    Ramp(QRgb c1, QRgb c2, long double q)
        : r1(qRed(c1)), g1(qGreen(c1)), b1(qBlue(c1)),
          sr(static_cast<float>((qRed(c2) - r1) / q)),
          sg(static_cast<float>((qGreen(c2) - g1) / q)),
          sb(static_cast<float>((qBlue(c2) - b1) / q)) {}

    QColor At(long double k) const {
        auto channel = [k](int base, float step) {
            return (base + static_cast<int>(std::nearbyintl(k * step))) & 0xFF;
        };
        return QColor(channel(r1, sr), channel(g1, sg), channel(b1, sb));
    }

    // The band colour of the horizontal and vertical styles: truncated.
    QColor Band(int i) const {
        auto channel = [i](int base, float step) {
            return static_cast<int>(std::truncl(base + static_cast<long double>(i) * step)) & 0xFF;
        };
        return QColor(channel(r1, sr), channel(g1, sg), channel(b1, sb));
    }

private:
    int r1, g1, b1;
    float sr, sg, sb;
};

int RoundInt(long double x) { return static_cast<int>(std::nearbyintl(x)); }

void Use(QPainter& p, const QColor& c) {
    p.setPen(QPen(c, 1));
    p.setBrush(c);
}

// Bands of the first horizontal / vertical style along an extent of `n`.
template <typename Fill>
void Bands(QRgb c1, QRgb c2, int steps, int n, Fill fill) {
    const int l = std::max(std::min(steps, n), 1);
    const int band = n / l;
    const int q = std::max(n / band, 1);
    const Ramp ramp(c1, c2, q);
    for (int i = 0; i <= q; ++i) fill(i * band, band, ramp.Band(i));
}

// Lines mirrored about a centre line: colorFrom on it, colorTo q lines off.
template <typename Line>
void Mirrored(QRgb c1, QRgb c2, int q, int centre, bool clipBefore, Line line) {
    const Ramp ramp(c1, c2, q);
    line(centre, QColor::fromRgb(c1));
    for (int k = 1; k <= q; ++k) {
        const QColor c = ramp.At(k);
        line(centre + k, c);
        if (!clipBefore || centre - k >= 0) line(centre - k, c);
    }
}

}  // namespace

QImage RenderGradient(QSize size, const QColor& colorFrom, TGradientStyle style, const QColor& colorTo) {
    const int w = size.width();
    const int h = size.height();
    if (w <= 0 || h <= 0) return {};
    QImage img(size, QImage::Format_RGB32);
    const QRgb c1 = colorFrom.rgb() | 0xFF000000u;
    const QRgb c2 = colorTo.rgb() | 0xFF000000u;
    if (c1 == c2) {
        img.fill(c1);
        return img;
    }
    img.fill(c2);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    const int steps = std::max({std::abs(qRed(c2) - qRed(c1)), std::abs(qGreen(c2) - qGreen(c1)),
                                std::abs(qBlue(c2) - qBlue(c1))});
    const int cx = w / 2;
    const int cy = h / 2;
    auto row = [&](int y, const QColor& c) {
        Use(p, c);
        p.drawLine(0, y, w, y);
    };
    auto column = [&](int x, const QColor& c) {
        Use(p, c);
        p.drawLine(x, 0, x, h);
    };

    switch (style) {
    case gsHorizontal1:
        Bands(c1, c2, steps, h, [&](int at, int band, const QColor& c) { p.fillRect(0, at, w, band, c); });
        break;
    case gsVertical1:
        Bands(c1, c2, steps, w, [&](int at, int band, const QColor& c) { p.fillRect(at, 0, band, h, c); });
        break;
    case gsHorizontal2: {
        const int q = std::max(h / 2, 1);
        Mirrored(c1, c2, q, q, false, row);
        break;
    }
    case gsHorizontal3:
        Mirrored(c1, c2, std::max(RoundInt(h * static_cast<long double>(0.67f)), 1), h / 3, true, row);
        break;
    case gsVertical2: {
        const int q = std::max(w / 2, 1);
        Mirrored(c1, c2, q, q, false, column);
        break;
    }
    case gsVertical3:
        Mirrored(c1, c2, std::max(RoundInt(w * static_cast<long double>(0.67f)), 1), w / 3, true, column);
        break;
    case gsElliptic1:
    case gsElliptic2:
    case gsElliptic3: {
        const long double l = steps;
        const float scale = style == gsElliptic1 ? 0.5f : style == gsElliptic2 ? 0.695f : 0.82f;
        const float px = static_cast<float>(w / l * scale);
        const float py = static_cast<float>(h / l * scale);
        const int ex = style == gsElliptic3 ? cx + 1 - w / 4 : cx;
        const int ey = style == gsElliptic3 ? cy + 1 - h / 4 : cy;
        const Ramp ramp(c1, c2, l);
        for (int k = steps; k >= 1; --k) {
            const int rx = RoundInt(static_cast<long double>(k) * px);
            const int ry = RoundInt(static_cast<long double>(k) * py);
            Use(p, ramp.At(k));
            p.drawEllipse(QRect(QPoint(ex - rx, ey - ry), QPoint(ex + rx, ey + ry)));
        }
        break;
    }
    case gsRectangle: {
        const long double l = steps;
        const float px = static_cast<float>(w / l / 2);
        const float py = static_cast<float>(h / l / 2);
        const Ramp ramp(c1, c2, l);
        for (int k = steps; k >= 0; --k) {
            const int rx = RoundInt(static_cast<long double>(k) * px);
            const int ry = RoundInt(static_cast<long double>(k) * py);
            p.fillRect(QRect(QPoint(cx - rx, cy - ry), QPoint(cx + rx, cy + ry)), ramp.At(k));
        }
        break;
    }
    case gsDiamond1:
    case gsDiamond2: {
        const int q = style == gsDiamond1 ? std::max(std::max(w, h) / 2, steps) : std::max(std::max(w, h), steps);
        const long double div = style == gsDiamond1 ? 2.0L : 1.0L;
        const float px = static_cast<float>(w / static_cast<long double>(q) / div);
        const float py = static_cast<float>(h / static_cast<long double>(q) / div);
        const Ramp ramp(c1, c2, q);
        for (int k = q; k >= 1; --k) {
            const int rx = RoundInt(static_cast<long double>(k) * px);
            const int ry = RoundInt(static_cast<long double>(k) * py);
            Use(p, ramp.At(k));
            const QPoint outline[] = {{cx, cy - ry}, {cx + rx, cy}, {cx, cy + ry}, {cx - rx, cy}, {cx, cy - ry}};
            p.drawPolyline(outline, 5);
        }
        p.end();
        img.setPixel(std::min(cx, w - 1), std::min(cy, h - 1), c1);
        return img;
    }
    case gsTopLeft:
    case gsTopRight: {
        const int q = std::max(w, h);
        const float px = static_cast<float>(w / static_cast<long double>(q));
        const float py = static_cast<float>(h / static_cast<long double>(q));
        const Ramp ramp(c1, c2, q);
        const bool left = style == gsTopLeft;
        for (int k = 0; k <= q; ++k) {
            const int x = RoundInt(static_cast<long double>(k) * px);
            const int y = RoundInt(static_cast<long double>(k) * py);
            Use(p, ramp.At(k / 2.0L));
            if (left) {
                p.drawLine(0, y, x, -1);
            } else {
                p.drawLine(w, y, w - x, -1);
            }
            Use(p, ramp.At(q - k / 2.0L));
            if (left) {
                p.drawLine(w, h - y, w - x, h);
            } else {
                p.drawLine(0, h - y, x, h);
            }
        }
        break;
    }
    }
    return img;
}

}  // namespace quorvex
