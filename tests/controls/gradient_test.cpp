// SPDX-License-Identifier: GPL-3.0-or-later
// The gradient: the main window's bands, every style at awkward sizes, and
// the settings' change rules.

#include "controls/kv_gradient.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <algorithm>

namespace quorvex {
namespace {

const QColor kSilver(192, 192, 192);
const QColor kCream(255, 251, 240);

TEST(Gradient, MainWindowBackgroundBands) {
    const QImage img = RenderGradient(QSize(439, 368), kSilver, gsHorizontal1, kCream);
    ASSERT_EQ(img.size(), QSize(439, 368));
    struct Band {
        int index;
        QRgb colour;
    };
    const Band bands[] = {
        {0, qRgb(192, 192, 192)}, {1, qRgb(192, 192, 192)}, {2, qRgb(193, 193, 193)},
        {72, qRgb(254, 250, 239)}, {73, qRgb(254, 251, 239)},
    };
    for (const Band& b : bands) {
        // Bands are 5 pixels high; the last one is clipped to 3 rows.
        for (int y = b.index * 5; y < std::min(b.index * 5 + 5, 368); ++y) {
            EXPECT_EQ(img.pixel(0, y), b.colour) << "band " << b.index << " row " << y;
            EXPECT_EQ(img.pixel(438, y), b.colour) << "band " << b.index << " row " << y;
        }
    }
    EXPECT_NE(img.pixel(0, 9), img.pixel(0, 10)) << "band 1 ends at row 9";
}

TEST(Gradient, HorizontalBandsNeverExceedThePixelRows) {
    // 255 colour steps over 10 rows: one band per row, each darker.
    const QImage tall = RenderGradient(QSize(3, 10), Qt::white, gsHorizontal1, Qt::black);
    for (int y = 1; y < 10; ++y) EXPECT_LT(qRed(tall.pixel(1, y)), qRed(tall.pixel(1, y - 1))) << y;
    const QImage one = RenderGradient(QSize(4, 1), Qt::white, gsHorizontal1, Qt::black);
    EXPECT_EQ(one.pixel(0, 0), qRgb(255, 255, 255)) << "only the first of two bands is visible";
    const QImage wide = RenderGradient(QSize(10, 3), Qt::white, gsVertical1, Qt::black);
    for (int x = 1; x < 10; ++x) EXPECT_LT(qRed(wide.pixel(x, 1)), qRed(wide.pixel(x - 1, 1))) << x;
}

// Every style at sizes down to a single pixel: no fault, and every pixel a
// colour between the two end points (a wrapped channel would leave it).
TEST(Gradient, EveryStyleStaysBetweenItsColoursAtEverySize) {
    const QSize sizes[] = {{1, 1}, {1, 40}, {40, 1}, {2, 3}, {37, 23}, {64, 48}, {439, 368}};
    const QColor from(10, 200, 90);
    const QColor to(250, 20, 95);
    for (int s = 0; s < kGradientStyleCount; ++s) {
        const auto style = static_cast<TGradientStyle>(s);
        for (const QSize size : sizes) {
            SCOPED_TRACE(testing::Message() << "style " << s << " at " << size.width() << "x" << size.height());
            const QImage img = RenderGradient(size, from, style, to);
            ASSERT_EQ(img.size(), size);
            bool sawFrom = false;
            for (int y = 0; y < size.height(); ++y) {
                for (int x = 0; x < size.width(); ++x) {
                    const QRgb p = img.pixel(x, y);
                    ASSERT_GE(qRed(p), 10);
                    ASSERT_LE(qRed(p), 250);
                    ASSERT_GE(qGreen(p), 20);
                    ASSERT_LE(qGreen(p), 200);
                    ASSERT_GE(qBlue(p), 90);
                    ASSERT_LE(qBlue(p), 95);
                    // Within one colour step of the start colour.
                    sawFrom = sawFrom || (qRed(p) <= 18 && qGreen(p) >= 192);
                }
            }
            if (size.width() >= 37 && size.height() >= 23) {
                EXPECT_TRUE(sawFrom) << "the start colour shows";
            }
        }
        EXPECT_TRUE(RenderGradient(QSize(0, 0), from, style, to).isNull());
        EXPECT_TRUE(RenderGradient(QSize(5, 0), from, style, to).isNull());
        const QImage plain = RenderGradient(QSize(9, 7), from, style, from);
        EXPECT_EQ(plain.pixelColor(0, 0), from);
        EXPECT_EQ(plain.pixelColor(8, 6), from);
        EXPECT_EQ(plain.pixelColor(4, 3), from);
    }
}

TEST(Gradient, CornerStylesRunFromTheirCorner) {
    const QImage tl = RenderGradient(QSize(50, 50), Qt::black, gsTopLeft, Qt::white);
    EXPECT_LT(qRed(tl.pixel(0, 0)), 10);
    EXPECT_GT(qRed(tl.pixel(49, 49)), 245);
    const QImage tr = RenderGradient(QSize(50, 50), Qt::black, gsTopRight, Qt::white);
    EXPECT_LT(qRed(tr.pixel(49, 0)), 10);
    EXPECT_GT(qRed(tr.pixel(0, 49)), 245);
    const QImage centre = RenderGradient(QSize(51, 51), Qt::black, gsElliptic1, Qt::white);
    EXPECT_LT(qRed(centre.pixel(25, 25)), 10);
    EXPECT_EQ(qRed(centre.pixel(0, 0)), 255);
}

class CountingGradient : public TKvGradient {
public:
    using TKvGradient::TKvGradient;
    int changes = 0;

protected:
    void SettingsChanged(QObject* sender) override {
        ++changes;
        TKvGradient::SettingsChanged(sender);
    }
};

TEST(Gradient, OnlyRealSettingChangesReachTheLoadedControl) {
    CountingGradient g;
    g.GradSettings()->SetStyle(gsVertical2);
    EXPECT_EQ(g.changes, 0) << "not connected before Loaded";
    g.Loaded();
    EXPECT_EQ(g.changes, 1) << "Loaded repaints once";

    TKvGradSettings* s = g.GradSettings();
    s->SetColorFrom(kSilver);
    s->SetColorTo(kCream);
    s->SetVisible(true);
    s->SetStyle(gsHorizontal1);
    EXPECT_EQ(g.changes, 5);
    s->SetColorFrom(kSilver);
    s->SetColorTo(kCream);
    s->SetVisible(true);
    s->SetStyle(gsHorizontal1);
    EXPECT_EQ(g.changes, 5) << "writing the value it has changes nothing";

    // The counter only holds back EndUpdate, not the settings' own events.
    g.BeginUpdate();
    s->SetStyle(gsDiamond1);
    EXPECT_EQ(g.changes, 6);
    g.EndUpdate();
    EXPECT_EQ(g.changes, 7);
    g.EndUpdate();
    EXPECT_EQ(g.UpdateCount(), 0);
}

TEST(Gradient, CopyingWritesEachSettingThenChangesOnceMore) {
    TKvGradSettings from, to;
    from.SetColorFrom(kSilver);
    from.SetStyle(gsTopRight);
    QSignalSpy spy(&to, &TKvPersistent::OnChange);
    from.AssignTo(to);
    EXPECT_EQ(to.ColorFrom(), kSilver);
    EXPECT_EQ(to.ColorTo(), from.ColorTo());
    EXPECT_EQ(to.Style(), gsTopRight);
    EXPECT_EQ(spy.count(), 3) << "two settings differed, plus the final Change";
}

TEST(Gradient, PaintsWhenItsSettingsSayInvisible) {
    TKvGradient g;
    g.GradSettings()->SetColorFrom(kSilver);
    g.GradSettings()->SetColorTo(kCream);
    g.resize(20, 30);
    ASSERT_FALSE(g.GradSettings()->Visible());
    const QImage shot = g.grab().toImage();
    EXPECT_EQ(shot.pixelColor(0, 0), kSilver);
    g.resize(0, 0);
    EXPECT_TRUE(g.grab().isNull());
}

}  // namespace
}  // namespace quorvex
