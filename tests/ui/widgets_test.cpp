// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/widgets.h"

#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

namespace quorvex::ui {
namespace {

// Counts the runs of a handler.
struct Counter {
    int runs = 0;
    Handler handler() {
        return [this] { ++runs; };
    }
};

TEST(ScreenText, CarriageReturnsBreakTheLine) {
    EXPECT_EQ(ScreenText("Last at:\r23 Hz"), QStringLiteral("Last at:\n23 Hz"));
    EXPECT_EQ(ScreenText("Sorry\r\nstereo"), QStringLiteral("Sorry\nstereo"));
    EXPECT_EQ(ScreenText("plain"), QStringLiteral("plain"));
}

TEST(Label, KeepsTheCaptionExactAndShowsTheBreak) {
    QWidget parent;
    Label label(&parent, "Last at:", {80, 20, 35, 13});
    label.SetCaption("Last at:\r23 Hz");
    EXPECT_EQ(label.Caption(), "Last at:\r23 Hz");
    EXPECT_EQ(label.text(), QStringLiteral("Last at:\n23 Hz"));
}

TEST(Label, RightAlignedKeepsItsRightEdgeFixedSizeKeepsItsRect) {
    QWidget parent;
    Label right(&parent, "-20", {18, 176, 15, 13}, Label::Align::right);
    const int right_edge = right.geometry().right();
    right.SetCaption("Off and much longer");
    EXPECT_EQ(right.geometry().right(), right_edge);
    EXPECT_GE(right.width(), right.sizeHint().width());

    Label left(&parent, "x", {40, 10, 5, 13});
    left.SetCaption("a longer caption");
    EXPECT_EQ(left.x(), 40);
    EXPECT_GE(left.width(), left.sizeHint().width());

    Label fixed(&parent, "to", {240, 252, 25, 13}, Label::Align::centre, true);
    fixed.SetCaption("a caption far wider than the label");
    EXPECT_EQ(fixed.geometry(), QRect(240, 252, 25, 13));
}

TEST(Label, ALongLineIsShownCutToTheEndThatShows) {
    // Head, tail and middle of 1000 digits 0..9 repeated, and a short second line.
    std::string line;
    for (int i = 0; i < 1000; ++i) line += static_cast<char>('0' + i % 10);
    const QString full = QString::fromStdString(line);
    const int n = Label::kShownLineLength;
    const std::pair<Label::Align, QString> cases[] = {
        {Label::Align::left, full.left(n)},
        {Label::Align::right, full.right(n)},
        {Label::Align::centre, full.mid((1000 - n) / 2, n)},
    };
    QWidget parent;
    for (const auto& [align, shown] : cases) {
        Label label(&parent, "", {0, 0, 30, 13}, align);
        label.SetCaption(line + "\rshort");
        EXPECT_EQ(label.Caption(), line + "\rshort");
        EXPECT_EQ(label.text(), shown + QStringLiteral("\nshort"));
    }
}

TEST(RadioGroup, ClickHandlerRunsOnlyWhenTheSelectionChanges) {
    QWidget parent;
    RadioGroup group(&parent, " Sweep Mode ", {0, 0, 129, 57}, {"Linear", "Log"});
    Counter clicks;
    group.OnClick = clicks.handler();
    EXPECT_EQ(group.ItemIndex(), -1);
    EXPECT_EQ(group.SelectedCaption(), "");

    group.SetItemIndex(1);
    EXPECT_EQ(clicks.runs, 1);
    EXPECT_EQ(group.SelectedCaption(), "Log");
    EXPECT_TRUE(group.Button(1)->isChecked());

    group.SetItemIndex(1);
    EXPECT_EQ(clicks.runs, 1);

    group.SetItemIndex(7);  // beyond the items: the last one, already selected
    EXPECT_EQ(clicks.runs, 1);
    EXPECT_EQ(group.ItemIndex(), 1);

    group.SetItemIndex(0);
    EXPECT_EQ(clicks.runs, 2);
    EXPECT_FALSE(group.Button(1)->isChecked());
}

TEST(RadioGroup, UserClicksRunTheHandlerOnceOnAChangeOnly) {
    QWidget parent;
    RadioGroup group(&parent, " Speed ", {0, 0, 97, 137}, {"A", "B", "C"});
    parent.show();
    std::vector<std::string> seen;
    group.OnClick = [&] { seen.push_back(group.SelectedCaption()); };

    QTest::mouseClick(group.Button(2), Qt::LeftButton, {}, QPoint(6, group.Button(2)->height() / 2));
    QTest::mouseClick(group.Button(2), Qt::LeftButton, {}, QPoint(6, group.Button(2)->height() / 2));
    QTest::mouseClick(group.Button(0), Qt::LeftButton, {}, QPoint(6, group.Button(0)->height() / 2));
    EXPECT_EQ(seen, (std::vector<std::string>{"C", "A"}));
    EXPECT_EQ(group.ItemIndex(), 0);
}

TEST(RadioGroup, ItemsSpreadEvenlyInsideTheBox) {
    QWidget parent;
    RadioGroup group(&parent, " Range ", {16, 9, 153, 113}, {"a", "b", "c", "d"});
    int previous_bottom = 0;
    for (int i = 0; i < 4; ++i) {
        const QRect r = group.Button(i)->geometry();
        EXPECT_GT(r.top(), previous_bottom) << i;
        EXPECT_LE(r.bottom(), group.height()) << i;
        EXPECT_EQ(r.height(), group.Button(0)->height());
        previous_bottom = r.bottom();
    }
}

TEST(TrackBar, ChangeHandlerRunsExactlyWhenThePositionChanges) {
    QWidget parent;
    TrackBar bar(&parent, {0, 0, 25, 145}, 0, 10, 9, 1, 1, TrackBar::Ticks::none);
    std::vector<int> seen;
    bar.OnChange = [&] { seen.push_back(bar.Position()); };

    bar.SetPosition(9);   // unchanged
    bar.SetPosition(10);  // changed
    bar.SetPosition(40);  // clamped to 10: unchanged
    bar.SetMax(180);      // position stays inside
    bar.SetMin(1);
    EXPECT_EQ(seen, std::vector<int>{10});

    bar.SetMax(0);  // below the min: ignored
    bar.SetMin(500);  // above the max: ignored
    EXPECT_EQ(bar.Min(), 1);
    EXPECT_EQ(bar.Max(), 180);

    bar.SetPosition(180);
    bar.SetMax(50);  // the new range moves the position
    EXPECT_EQ(seen, (std::vector<int>{10, 180, 50}));
    bar.SetMin(60);  // above the max: ignored
    EXPECT_EQ(bar.Position(), 50);
}

TEST(TrackBar, MinIsAtTheTopAndUpMovesTowardsIt) {
    QWidget parent;
    TrackBar bar(&parent, {0, 0, 33, 161}, 0, 26, 12, 3, 5, TrackBar::Ticks::left);
    QTest::keyClick(&bar, Qt::Key_Up);
    EXPECT_EQ(bar.Position(), 11);
    QTest::keyClick(&bar, Qt::Key_PageDown);
    EXPECT_EQ(bar.Position(), 14);
    QTest::keyClick(&bar, Qt::Key_Home);
    EXPECT_EQ(bar.Position(), 0);

    TrackBar plain(&parent, {40, 0, 25, 145}, 0, 10, 10, 1, 1, TrackBar::Ticks::none);
    parent.resize(80, 200);
    parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
    // A click near the top edge moves the thumb towards min.
    QTest::mouseClick(&plain, Qt::LeftButton, {}, QPoint(plain.width() / 2, 2));
    EXPECT_EQ(plain.Position(), 9);
}

// A press on the groove pages once at once and then from a timer while the
// button is held. When a dialog that opened meanwhile took the release, the
// paging ends too: the bar never pages on by itself.
TEST(TrackBar, PagingEndsWhenADialogTookTheRelease) {
    QWidget parent;
    parent.resize(80, 200);
    TrackBar bar(&parent, {0, 0, 33, 161}, 0, 26, 20, 3, 5, TrackBar::Ticks::left);
    parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
    struct TimerCounter : QObject {
        int timers = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            timers += e->type() == QEvent::Timer;
            return false;
        }
    } counter;
    bar.installEventFilter(&counter);

    QTest::mousePress(parent.windowHandle(), Qt::LeftButton, {}, QPoint(20, 4));
    ASSERT_EQ(bar.Position(), 17);
    {
        QWidget dialog;
        dialog.setWindowModality(Qt::ApplicationModal);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        QTest::mouseRelease(parent.windowHandle(), Qt::LeftButton, {}, QPoint(20, 4));
    }
    // The first repeat would page again.
    ASSERT_TRUE(QTest::qWaitFor([&] { return counter.timers > 0; }, 10000));
    QTest::qWait(100);
    EXPECT_EQ(bar.Position(), 17);
    EXPECT_FALSE(bar.isSliderDown());

    // The next press on the groove pages as before.
    QTest::mouseClick(parent.windowHandle(), Qt::LeftButton, {}, QPoint(20, 4));
    EXPECT_EQ(bar.Position(), 14);
}

TEST(Edit, ChangeHandlerRunsForEveryChangeOfText) {
    QWidget parent;
    Edit edit(&parent, "F1", {0, 0, 49, 21});
    Counter changes;
    edit.OnChange = changes.handler();
    edit.SetText("F1");
    EXPECT_EQ(changes.runs, 0);
    edit.SetText("20");
    EXPECT_EQ(changes.runs, 1);
    edit.setFocus();
    QTest::keyClicks(&edit, "05");
    EXPECT_EQ(changes.runs, 3);
    EXPECT_EQ(edit.Text(), "2005");
}

TEST(CheckBox, OnlyAUserToggleRunsTheClickHandler) {
    QWidget parent;
    CheckBox box(&parent, "L", {0, 0, 25, 17}, true, true);
    Counter clicks;
    box.OnClick = clicks.handler();
    box.setChecked(false);
    EXPECT_EQ(clicks.runs, 0);
    QTest::keyClick(&box, Qt::Key_Space);
    EXPECT_EQ(clicks.runs, 1);
    EXPECT_TRUE(box.Checked());
}

TEST(Timer, EnablingAgainDoesNotRestartTheInterval) {
    Timer timer(nullptr, 10000);
    Counter ticks;
    timer.OnTimer = ticks.handler();
    timer.SetEnabled(true);
    QTest::qWait(60);
    timer.SetEnabled(true);
    EXPECT_LE(timer.RemainingMs(), 9960);  // a restart would show 10000
    timer.SetEnabled(false);
    EXPECT_FALSE(timer.Enabled());
    EXPECT_EQ(timer.RemainingMs(), -1);
    EXPECT_EQ(ticks.runs, 0);
}

TEST(Timer, TicksOncePerIntervalWhileEnabled) {
    Timer timer(nullptr, 20);
    Counter ticks;
    timer.OnTimer = [&] {
        if (++ticks.runs == 2) timer.SetEnabled(false);
    };
    timer.SetEnabled(true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !timer.Enabled(); }, 2000));
    EXPECT_EQ(ticks.runs, 2);
}

}  // namespace
}  // namespace quorvex::ui
