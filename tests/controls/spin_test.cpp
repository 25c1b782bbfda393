// SPDX-License-Identifier: GPL-3.0-or-later
// Spin buttons and the numeric spin edit: geometry, arrows, glyphs, and the
// repeat of a held button on the test's own clock.

#include "controls/kv_num_spin.h"
#include "controls/kv_spin_button.h"

#include "tests/controls/test_support.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
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
    // (46, 0) of the client area, which starts inside the 2-pixel border.
    EXPECT_EQ(spin->ClientArea(), QRect(2, 2, 61, 18));
    EXPECT_EQ(spin->Button()->geometry(), QRect(48, 2, 15, 18));
    EXPECT_EQ(spin->Button()->UpButton()->size(), QSize(15, 9));
    EXPECT_EQ(spin->Button()->DownButton()->geometry(), QRect(0, 9, 15, 9));
    EXPECT_EQ(spin->text(), "0.00");

    // The field's frame shows all round: beside the button it looks as it
    // does at the mirrored place on the left, where no button is.
    const QImage img = spin->grab().toImage();
    for (int x = 48; x < 63; ++x) {
        EXPECT_EQ(img.pixel(x, 0), img.pixel(64 - x, 0)) << "top border at " << x;
        EXPECT_EQ(img.pixel(x, 1), img.pixel(64 - x, 1)) << "top border at " << x;
        EXPECT_EQ(img.pixel(x, 21), img.pixel(64 - x, 21)) << "bottom border at " << x;
    }
    for (int y = 2; y < 20; ++y) EXPECT_EQ(img.pixel(64, y), img.pixel(0, y)) << "right border at " << y;

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

TEST(TimerSpeedBtn, ButtonDisabledAtTheLimitStopsRepeating) {
    test::ServiceRecorder services;
    test::ManualRepeatClock clock;
    QWidget window;
    auto spin = MakeChirp(&window);
    spin->SetMaxValue(0.05);
    spin->SetOptions(eoLimitMax);
    window.show();
    auto* up = spin->Button()->UpButton();

    QTest::mousePress(up, Qt::LeftButton, {}, QPoint(5, 4));
    clock.Run(1150);  // steps at 0.5 .. 1.0 s reach the limit
    EXPECT_EQ(spin->Value(), 0.05);
    EXPECT_TRUE(spin->LimitUp());
    EXPECT_FALSE(up->isEnabled());
    EXPECT_EQ(RepeatCount(), 0) << "the disabled arrow has stopped";
    EXPECT_EQ(services.beeps, 0) << "no refused steps at the limit";

    QTest::mouseRelease(up, Qt::LeftButton, {}, QPoint(5, 4));
    clock.Run(1000);
    EXPECT_EQ(services.beeps, 0);
}

// A held arrow's repeat ends with the press, whatever ends it; a menu or a
// grab that swallows the release must not leave it stepping on its own, nor
// drawn pressed where the release went elsewhere.
TEST(TimerSpeedBtn, EveryEndOfThePressEndsTheRepeat) {
    struct Rig {
        QWidget window;
        std::unique_ptr<TKvNumSpin> spin = MakeChirp(&window);
        QLineEdit* other = new QLineEdit(&window);
        TKvTimerSpeedBtn* up = spin->Button()->UpButton();
    };
    struct Case {
        const char* name;
        std::function<void(Rig&)> end;
        bool releaseTaken;  // the left button's release goes elsewhere
    };
    // The field's menu runs its own loop; it is closed once it is up.
    const auto closeMenuWhenUp = [] {
        QTimer::singleShot(0, [] {
            if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
        });
    };
    QWidget otherWindow;
    const Case cases[] = {
        {"release of another mouse button", [](Rig& r) { QTest::mouseRelease(r.up, Qt::RightButton, {}, QPoint(5, 4)); },
         false},
        {"context menu request",
         [&](Rig& r) {
             closeMenuWhenUp();
             QContextMenuEvent menu(QContextMenuEvent::Mouse, QPoint(5, 4), r.up->mapToGlobal(QPoint(5, 4)));
             QApplication::sendEvent(r.up, &menu);
         },
         true},
        {"right press and its menu",
         [&](Rig& r) {
             closeMenuWhenUp();
             const QPoint at = r.up->mapTo(&r.window, QPoint(5, 4));
             QTest::mousePress(r.window.windowHandle(), Qt::RightButton, {}, at);
             QTest::mouseRelease(r.window.windowHandle(), Qt::RightButton, {}, at);
         },
         true},
        {"popup elsewhere",
         [](Rig&) {
             auto* menu = new QMenu;
             menu->setAttribute(Qt::WA_DeleteOnClose);
             menu->addAction(QStringLiteral("item"));
             menu->popup(QPoint(300, 300));
             test::ManualRepeatClock::Current()->Run(200);
             menu->close();
         },
         true},
        {"focus leaves the field", [](Rig& r) { r.other->setFocus(); }, false},
        {"window deactivated",
         [&otherWindow](Rig&) {
             otherWindow.show();
             otherWindow.activateWindow();
             ASSERT_TRUE(QTest::qWaitForWindowActive(&otherWindow));
         },
         true},
        {"field disabled", [](Rig& r) { r.spin->setEnabled(false); }, true},
        {"field hidden", [](Rig& r) { r.spin->hide(); }, true},
        {"mouse grabbed elsewhere",
         [](Rig& r) {
             r.other->grabMouse();
             test::ManualRepeatClock::Current()->Run(200);
             r.other->releaseMouse();
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::ServiceRecorder services;
        test::ManualRepeatClock clock;
        otherWindow.hide();
        Rig r;
        r.other->move(0, 40);
        r.window.show();
        r.window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&r.window));
        QSignalSpy clicks(r.up, &QAbstractButton::clicked);

        QTest::mousePress(r.window.windowHandle(), Qt::LeftButton, {}, r.up->mapTo(&r.window, QPoint(5, 4)));
        ASSERT_TRUE(r.spin->hasFocus());
        ASSERT_TRUE(r.up->isDown());
        clock.Run(600);  // one repeat click at 0.5 s
        ASSERT_EQ(clicks.count(), 1);
        c.end(r);
        clock.Run(1000);
        EXPECT_EQ(RepeatCount(), 0);
        EXPECT_FALSE(r.up->Repeating());
        if (c.releaseTaken) {
            EXPECT_FALSE(r.up->isDown()) << "drawn pressed without a press";
        }
        // The left button's release, where the user lets go.
        QTest::mouseRelease(r.window.windowHandle(), Qt::LeftButton, {}, QPoint(60, 60));
        EXPECT_FALSE(r.up->isDown());
        EXPECT_EQ(clicks.count(), 1) << "no step after the end of the press";
    }
}

// Keys, UpClick/DownClick and the arrows ask the one StepEnabled and agree
// with it in every combination of edit state, limit, read-only and enabled;
// only a key applies a typed number first and then steps from it.
TEST(NumSpin, KeysStepsAndArrowsAgreeInEveryState) {
    enum class Text { accepted, typed, invalid };
    enum class At { middle, upper, lower };
    for (const Text text : {Text::accepted, Text::typed, Text::invalid}) {
        for (const At at : {At::middle, At::upper, At::lower}) {
            for (const bool readOnly : {false, true}) {
                for (const bool enabled : {true, false}) {
                    SCOPED_TRACE(testing::Message() << "text " << static_cast<int>(text) << ", at "
                                                    << static_cast<int>(at) << ", read-only " << readOnly
                                                    << ", enabled " << enabled);
                    test::ServiceRecorder services;
                    // One field per way of stepping, all brought into the same state.
                    auto make = [&] {
                        auto spin = MakeChirp();
                        spin->SetMinValue(-1);
                        spin->SetMaxValue(1);
                        spin->SetOptions(TNumEditOptions(eoLimitMax) | eoLimitMin);
                        spin->SetValue(at == At::upper ? 1.0 : at == At::lower ? -1.0 : 0.0);
                        if (text == Text::typed) spin->setText(QStringLiteral("0.5"));
                        if (text == Text::invalid) spin->setText(QStringLiteral("0.5x"));
                        spin->setReadOnly(readOnly);
                        spin->setEnabled(enabled);
                        return spin;
                    };
                    for (const bool up : {true, false}) {
                        auto probe = make();
                        const bool expected = enabled && !readOnly && text == Text::accepted &&
                                              at != (up ? At::upper : At::lower);
                        EXPECT_EQ(probe->StepEnabled(up), expected) << "up " << up;

                        auto byKey = make();
                        const double before = byKey->Value();
                        QTest::keyClick(byKey.get(), up ? Qt::Key_Up : Qt::Key_Down);
                        const bool applied = enabled && !readOnly && text == Text::typed;
                        EXPECT_EQ(byKey->Value() != before, expected || applied) << "key, up " << up;
                        if (applied) {
                            EXPECT_EQ(byKey->Value(), up ? 0.50999999977648258 : 0.49000000022351742);
                        }

                        auto byStep = make();
                        if (up) byStep->UpClick();
                        else byStep->DownClick();
                        EXPECT_EQ(byStep->Value() != before, expected) << "step, up " << up;

                        auto byArrow = make();
                        TKvTimerSpeedBtn* arrow = up ? byArrow->Button()->UpButton() : byArrow->Button()->DownButton();
                        EXPECT_EQ(arrow->isEnabled(), expected) << "arrow, up " << up;
                    }
                }
            }
        }
    }
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
