// Spin buttons and the numeric spin edit: geometry, arrows, glyphs, and the
// repeat of a held button on the test's own clock.

#include "controls/kv_num_spin.h"
#include "controls/kv_spin_button.h"

#include "tests/controls/test_support.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace quorvex {
namespace {

// The chirp-rate field as the main window sets it up.
std::unique_ptr<TKvNumSpin> MakeChirp(QWidget* parent = nullptr) {
    auto spin = std::make_unique<TKvNumSpin>(parent);
    spin->SetSeparators({u'.', u','});
    spin->SetFormatStr("#0.00#");
    spin->SetIncrement(0.01f);
    spin->SetInterval(100);
    spin->SetStartDelay(500);
    spin->Loaded();
    return spin;
}

QFont SmallFont() {
    QFont f = QApplication::font();
    f.setPixelSize(10);
    return f;
}

TEST(SpinButton, WidthIsRaisedTo15AndTheDownButtonTakesTheOddPixel) {
    struct Case {
        int w, h;
        int width, up, down;
    };
    const Case cases[] = {{10, 30, 15, 15, 15}, {15, 25, 15, 12, 13}, {20, 7, 20, 3, 4}, {15, 0, 15, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << " x " << c.h);
        TKvSpinButton byBounds;
        byBounds.SetBounds(3, 4, c.w, c.h);
        TKvSpinButton byResize;
        byResize.show();
        byResize.resize(c.w, c.h);
        for (TKvSpinButton* b : {&byBounds, &byResize}) {
            EXPECT_EQ(b->size(), QSize(c.width, c.h));
            EXPECT_EQ(b->UpButton()->geometry(), QRect(0, 0, c.width, c.up));
            EXPECT_EQ(b->DownButton()->geometry(), QRect(0, c.up, c.width, c.down));
        }
        EXPECT_EQ(byBounds.pos(), QPoint(3, 4));
    }
}

TEST(SpinButton, IntervalBelow50IsIgnoredOnBothButtons) {
    auto spin = MakeChirp();
    spin->SetInterval(30);
    EXPECT_EQ(spin->Interval(), 100);
    spin->SetInterval(50);
    EXPECT_EQ(spin->Interval(), 50);
    EXPECT_EQ(spin->Button()->DownButton()->Interval(), 50);
    spin->SetStartDelay(0);
    EXPECT_EQ(spin->Button()->DownButton()->StartDelay(), 0u);
}

TEST(SpinButton, BuiltInGlyphsAreMirroredArrowsOnOlive) {
    const QImage up = KvSpinUp();
    const QImage down = KvSpinDown();
    ASSERT_EQ(up.size(), QSize(18, 6));
    auto count = [](const QImage& img, int cell, QRgb colour) {
        int n = 0;
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 9; ++x) n += img.pixel(cell * 9 + x, y) == colour;
        return n;
    };
    const QRgb black = qRgb(0, 0, 0), grey = qRgb(128, 128, 128), olive = qRgb(128, 128, 0);
    for (const QImage& img : {up, down}) {
        EXPECT_EQ(count(img, 0, black), 16) << "a solid triangle of 1 + 3 + 5 + 7";
        EXPECT_EQ(count(img, 1, grey), 12) << "its outline";
        EXPECT_EQ(count(img, 0, olive) + 16, 54);
        EXPECT_EQ(img.pixel(0, 5), olive) << "the transparent colour sits bottom left";
    }
    // Rows 0..3 of the down arrow are those of the up arrow upside down.
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 18; ++x) EXPECT_EQ(down.pixel(x, y), up.pixel(x, 3 - y)) << x << "," << y;
    EXPECT_EQ(up.pixel(4, 0), black);
    EXPECT_EQ(up.pixel(9 + 4, 1), olive) << "the disabled arrow is hollow";

    const QImage enabled = GlyphCell(up, 0, 2).toImage();
    ASSERT_EQ(enabled.size(), QSize(9, 6));
    EXPECT_EQ(qAlpha(enabled.pixel(0, 0)), 0);
    EXPECT_EQ(enabled.pixel(4, 0), qRgb(0, 0, 0) | 0xFF000000u);
}

TEST(NumSpin, ChirpFieldPlacesItsButtonAndKeepsTextClear) {
    auto spin = MakeChirp();
    spin->setFont(SmallFont());
    ASSERT_LE(spin->MinEditHeight(), 22) << "the test needs a font that fits 22 pixels";
    spin->resize(65, 22);
    spin->show();
    EXPECT_EQ(spin->size(), QSize(65, 22));
    EXPECT_EQ(spin->Button()->geometry(), QRect(46, 0, 15, 18));
    EXPECT_EQ(spin->Button()->UpButton()->size(), QSize(15, 9));
    EXPECT_EQ(spin->Button()->DownButton()->geometry(), QRect(0, 9, 15, 9));
    EXPECT_EQ(spin->text(), "0.00");

    spin->setText("12345678901234567890");
    spin->end(false);
    (void)spin->grab();  // the line edit scrolls its text as it paints
    // The cursor rectangle is padded on both sides; its centre is the caret.
    const QRect cursor = spin->inputMethodQuery(Qt::ImCursorRectangle).toRect();
    EXPECT_LT(cursor.center().x(), spin->Button()->x()) << "typed text never runs under the arrows";

    spin->resize(65, 5);
    EXPECT_EQ(spin->height(), spin->MinEditHeight()) << "a field made too low grows back";
    EXPECT_EQ(spin->Button()->height(), spin->MinEditHeight() - 4);
}

TEST(NumSpin, ArrowsAreUnavailableWhileATypedNumberWaits) {
    test::ServiceRecorder services;
    auto spin = MakeChirp();
    auto* up = spin->Button()->UpButton();
    auto* down = spin->Button()->DownButton();
    ASSERT_TRUE(up->isEnabled() && down->isEnabled());

    spin->selectAll();
    QTest::keyClicks(spin.get(), "5");
    EXPECT_FALSE(up->isEnabled());
    EXPECT_FALSE(down->isEnabled());
    QTest::keyClick(spin.get(), Qt::Key_Return);
    EXPECT_EQ(spin->Value(), 5);
    EXPECT_TRUE(up->isEnabled() && down->isEnabled());

    QTest::keyClicks(spin.get(), "x");
    EXPECT_EQ(spin->State(), esError);
    EXPECT_FALSE(up->isEnabled() || down->isEnabled());
    QTest::keyClick(spin.get(), Qt::Key_Escape);
    EXPECT_TRUE(up->isEnabled() && down->isEnabled());

    // At the upper limit only the down arrow stays, also across disabling.
    spin->SetMaxValue(5);
    spin->SetOptions(eoLimitMax);
    EXPECT_TRUE(spin->LimitUp());
    EXPECT_FALSE(up->isEnabled());
    EXPECT_TRUE(down->isEnabled());
    spin->setEnabled(false);
    EXPECT_FALSE(down->isEnabled());
    spin->setEnabled(true);
    EXPECT_FALSE(up->isEnabled());
    EXPECT_TRUE(down->isEnabled());
}

TEST(NumSpin, ArrowClicksStepAndMoveTheFocusIntoTheField) {
    test::ServiceRecorder services;
    QWidget window;
    auto spin = MakeChirp(&window);
    auto* other = new QLineEdit(&window);
    other->move(0, 40);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    other->setFocus();

    QTest::mouseClick(spin->Button()->UpButton(), Qt::LeftButton);
    EXPECT_EQ(spin->Value(), 0.009999999776482582);
    EXPECT_EQ(spin->text(), "0.01");
    EXPECT_TRUE(spin->hasFocus());
    QTest::mouseClick(spin->Button()->DownButton(), Qt::LeftButton);
    QTest::mouseClick(spin->Button()->DownButton(), Qt::LeftButton);
    EXPECT_EQ(spin->text(), "-0.01");

    QSignalSpy ups(spin->Button(), &TKvSpinButton::OnUpClick);
    QTest::keyClick(spin->Button(), Qt::Key_Up);
    EXPECT_EQ(ups.count(), 1);
    EXPECT_EQ(spin->text(), "0.00");
}

// A held button on the manual clock: press, hold, release.
TEST(TimerSpeedBtn, HeldButtonClicksAfterTheStartDelay) {
    struct Case {
        std::uint32_t hold;
        Qt::MouseButton button;
        bool releaseInside;
        std::uint32_t startDelay;
        int clicks;
    };
    const Case cases[] = {
        {200, Qt::LeftButton, true, 500, 1},    // a short click steps once, on release
        {200, Qt::LeftButton, false, 500, 0},   // released outside: no step
        {550, Qt::LeftButton, true, 500, 2},    // once at 0.5 s, once on release
        {1050, Qt::LeftButton, true, 500, 7},   // 0.5 .. 1.0 s, then the release
        {550, Qt::RightButton, true, 500, 1},   // repeats, but no release click
        {150, Qt::LeftButton, true, 0, 2},      // no delay: the first message clicks
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.hold << " ms, delay " << c.startDelay);
        test::ManualRepeatClock clock;
        QWidget window;
        auto* b = new TKvTimerSpeedBtn(&window);
        b->setGeometry(0, 0, 15, 12);
        b->SetStartDelay(c.startDelay);
        window.show();
        QSignalSpy clicks(b, &QAbstractButton::clicked);

        QTest::mousePress(b, c.button, {}, QPoint(5, 5));
        EXPECT_EQ(RepeatCount(), 1);
        clock.Run(c.hold);
        QTest::mouseRelease(b, c.button, {}, c.releaseInside ? QPoint(5, 5) : QPoint(60, 60));
        EXPECT_EQ(RepeatCount(), 0);
        clock.Run(500);
        EXPECT_EQ(clicks.count(), c.clicks);
    }
}

TEST(TimerSpeedBtn, ButtonDisabledAtTheLimitStillStopsOnRelease) {
    test::ServiceRecorder services;
    test::ManualRepeatClock clock;
    QWidget window;
    auto spin = MakeChirp(&window);
    spin->SetMaxValue(0.05);
    spin->SetOptions(eoLimitMax);
    window.show();
    auto* up = spin->Button()->UpButton();

    QTest::mousePress(up, Qt::LeftButton, {}, QPoint(5, 4));
    clock.Run(1150);  // steps at 0.5 .. 1.0 s reach the limit, 1.1 s is refused
    EXPECT_EQ(spin->Value(), 0.05);
    EXPECT_TRUE(spin->LimitUp());
    EXPECT_FALSE(up->isEnabled());
    EXPECT_EQ(services.beeps, 1) << "each repeat at the limit beeps";

    QTest::mouseRelease(up, Qt::LeftButton, {}, QPoint(5, 4));
    EXPECT_EQ(RepeatCount(), 0);
    clock.Run(1000);
    EXPECT_EQ(services.beeps, 1);
}

TEST(TimerSpeedBtn, DestroyedWhileHeldLeavesNoEntry) {
    test::ManualRepeatClock clock;
    auto window = std::make_unique<QWidget>();
    auto* b = new TKvTimerSpeedBtn(window.get());
    window->show();
    QTest::mousePress(b, Qt::LeftButton, {}, QPoint(2, 2));
    ASSERT_EQ(RepeatCount(), 1);
    window.reset();
    EXPECT_EQ(RepeatCount(), 0);
    clock.Run(1000);
}

}  // namespace
}  // namespace quorvex
