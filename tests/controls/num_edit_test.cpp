// SPDX-License-Identifier: GPL-3.0-or-later
// The numeric edit as the user drives it: typed texts committed with Enter,
// Esc, arrow keys and steps, limits, focus, and the write rules.

#include "controls/kv_num_edit.h"

#include "tests/controls/test_support.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace quorvex {
namespace {

const NumSeparators kEnglish{u'.', u','};

QColor Background(const QWidget& w) { return w.palette().color(QPalette::Base); }

std::unique_ptr<TKvNumEdit> MakeEdit(TEditBase base = ebFloat) {
    auto edit = std::make_unique<TKvNumEdit>();
    edit->SetSeparators(kEnglish);
    edit->SetEditBase(base);
    return edit;
}

// Puts `text` into the field as typing would leave it, then presses Enter.
void Commit(TKvNumEdit& edit, const QString& text) {
    edit.setText(text);
    QTest::keyClick(&edit, Qt::Key_Return);
}

TEST(NumEdit, CommittedTextsGiveTheirValueTextAndState) {
    enum Outcome { applied, invalid, refused };
    struct Case {
        TEditBase base;
        const char* typed;
        Outcome outcome;
        double value;      // applied
        const char* text;  // shown afterwards
        int selStart, selLength;  // invalid
        const char* error = nullptr;  // refused: how the message starts
    };
    const Case cases[] = {
        {ebFloat, "", applied, 0, "0", 0, 0},
        {ebFloat, "2.5k", applied, 2500, "2500", 0, 0},
        {ebFloat, "1m", applied, 0.0010000000474974513, "0", 0, 0},
        {ebFloat, "1e-5", applied, 1e-5, "0", 0, 0},
        {ebFloat, "-", applied, 0, "0", 0, 0},
        {ebFloat, "1,000", applied, 1000, "1000", 0, 0},
        {ebFloat, "$FF", applied, 255, "255", 0, 0},
        {ebFloat, "&101", applied, 5, "5", 0, 0},
        {ebFloat, "%12", applied, 12, "12", 0, 0},
        {ebFloat, "-2.25", applied, -2.25, "-2.3", 0, 0},
        {ebInt, "3k", applied, 3000, "3000", 0, 0},
        {ebInt, "1E", applied, 2147483647, "2147483647", 0, 0},
        {ebInt, "3000000k", applied, 2147483647, "2147483647", 0, 0},
        {ebInt, "-2147483648", applied, -2147483647, "-2147483647", 0, 0},
        {ebBin, "101", applied, 5, "101", 0, 0},
        {ebHex, "ff", applied, 255, "FF", 0, 0},
        {ebFloat, "1.2.3", invalid, 0, "1.2.3", 3, 1},
        {ebFloat, "12x", invalid, 0, "12x", 2, 1},
        {ebInt, "5m", invalid, 0, "5m", 1, 1},
        {ebBin, "2", invalid, 0, "2", 0, 1},
        // A refusal quotes the text as typed: prefix, scale letter and all.
        {ebFloat, "1e2.5", refused, 0, "1e2.5", 0, 0, "\"1e2.5\" is not a valid floating-point number."},
        {ebFloat, "1e2.5k", refused, 0, "1e2.5k", 0, 0, "\"1e2.5k\" is not a valid floating-point number."},
        {ebFloat, "1e", refused, 0, "1e", 0, 0, "\"1e\" is not a valid floating-point number."},
        {ebFloat, "EE", refused, 0, "EE", 0, 0, "\"EE\" is not a valid floating-point number."},
        {ebFloat, "$123456789", refused, 0, "$123456789", 0, 0,
         "\"$123456789\" is not a valid 32-bit hexadecimal number."},
        {ebHex, "123456789", refused, 0, "123456789", 0, 0, "\"123456789\" is not a valid 32-bit hexadecimal number."},
        {ebFloat, "1e400", refused, 0, "1e400", 0, 0, "Floating-point overflow"},
        {ebInt, "2147483648", refused, 0, "2147483648", 0, 0, "\"2147483648\" is not a valid 32-bit integer."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        test::ServiceRecorder services;
        auto edit = MakeEdit(c.base);
        Commit(*edit, QString::fromLatin1(c.typed));
        EXPECT_EQ(edit->text(), QString::fromLatin1(c.text));
        EXPECT_EQ(edit->Value(), c.value);
        switch (c.outcome) {
        case applied:
            EXPECT_EQ(edit->State(), esNormal);
            EXPECT_EQ(services.beeps, 0);
            EXPECT_TRUE(services.errors.isEmpty());
            break;
        case invalid:
            EXPECT_EQ(edit->State(), esError);
            EXPECT_EQ(Background(*edit), edit->ColorError());
            EXPECT_EQ(edit->selectionStart(), c.selStart);
            EXPECT_EQ(edit->selectionLength(), c.selLength);
            EXPECT_EQ(services.beeps, 1) << "one beep on entering the error state";
            break;
        case refused:
            EXPECT_EQ(edit->State(), esNormal);
            ASSERT_EQ(services.errors.size(), 1);
            EXPECT_TRUE(services.errors.front().startsWith(QString::fromLatin1(c.error))) << services.errors.front().toStdString();
            break;
        }
    }
}

TEST(NumEdit, FieldStaysUsableAfterARefusedText) {
    test::ServiceRecorder services;
    auto edit = MakeEdit();
    Commit(*edit, "7");
    Commit(*edit, "1e2.5");
    ASSERT_EQ(services.errors.size(), 1);
    EXPECT_TRUE(services.errors.front().contains("1e2.5"));
    EXPECT_EQ(edit->Value(), 7);
    Commit(*edit, "1e400");
    ASSERT_EQ(services.errors.size(), 2);
    EXPECT_TRUE(services.errors.back().contains("overflow", Qt::CaseInsensitive));
    Commit(*edit, "8");
    EXPECT_EQ(edit->Value(), 8);
    EXPECT_EQ(edit->State(), esNormal);
}

TEST(NumEdit, EscRestoresAndEnterApplies) {
    test::ServiceRecorder services;
    auto edit = MakeEdit();
    edit->SetValue(3);
    const QColor normal = edit->ColorDefault();
    ASSERT_EQ(Background(*edit), normal);

    edit->selectAll();
    QTest::keyClicks(edit.get(), "42");
    EXPECT_EQ(edit->State(), esEditing);
    EXPECT_EQ(Background(*edit), edit->ColorEditing());
    QTest::keyClick(edit.get(), Qt::Key_Escape);
    EXPECT_EQ(edit->text(), "3");
    EXPECT_EQ(edit->State(), esNormal);
    EXPECT_EQ(Background(*edit), normal);
    EXPECT_EQ(edit->Value(), 3);

    edit->selectAll();
    QTest::keyClicks(edit.get(), "42");
    QTest::keyClick(edit.get(), Qt::Key_Enter);
    EXPECT_EQ(edit->Value(), 42);
    EXPECT_EQ(edit->State(), esNormal);
    EXPECT_EQ(Background(*edit), normal);
    EXPECT_EQ(services.beeps, 0);
}

TEST(NumEdit, ArrowKeysStepByTheSinglePrecisionIncrement) {
    struct Case {
        float increment;
        TNumEditOptions options;
        double start;
        const char* pattern;
        int steps;  // positive: Up, negative: Down
        double value;
        const char* text;
    };
    const Case cases[] = {
        {0.01f, {}, 0, "#0.00#", 1, 0.009999999776482582, "0.01"},
        {0.01f, {}, 0, "#0.00#", 3, 0.029999999329447746, "0.03"},
        {0.01f, {}, 0, "#0.00#", -2, -0.019999999552965164, "-0.02"},
        {10, eoMultiply, 5, "#0.#", 2, 500, "500"},
        {10, eoMultiply, 500, "#0.#", -1, 50, "50"},
        {10, eoMultiply, 0, "#0.#", 1, 10, "10"},  // from 0 the step adds
        {0.5f, {}, 1, "#0.#", -3, -0.5, "-0.5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.start << " steps " << c.steps);
        test::ServiceRecorder services;
        auto edit = MakeEdit();
        edit->SetFormatStr(QString::fromLatin1(c.pattern));
        edit->SetIncrement(c.increment);
        edit->SetOptions(c.options);
        edit->SetValue(c.start);
        QSignalSpy changes(edit.get(), &TKvNumEdit::OnChange);
        for (int i = 0; i < std::abs(c.steps); ++i) QTest::keyClick(edit.get(), c.steps > 0 ? Qt::Key_Up : Qt::Key_Down);
        EXPECT_EQ(edit->Value(), c.value);
        EXPECT_EQ(edit->text(), QString::fromLatin1(c.text));
        EXPECT_EQ(changes.count(), std::abs(c.steps));
        EXPECT_EQ(edit->State(), esNormal);
    }
}

// Up and Down while typed text waits: a valid number is applied and the
// step starts from it; anything else puts the field into the error state
// with a beep on every press, and nothing is applied or reported.
TEST(NumEdit, ArrowKeysApplyTypedTextThenStep) {
    struct Case {
        const char* typed;
        Qt::Key key;
        int presses;
        double value;
        const char* text;
        TNumEditState state;
        int beeps;
    };
    const Case cases[] = {
        {"5", Qt::Key_Up, 1, 5.0099999997764826, "5.01", esNormal, 0},
        {"5", Qt::Key_Down, 2, 4.9800000004470348, "4.98", esNormal, 0},
        {"-2.5k", Qt::Key_Down, 1, -2500.0099999997765, "-2500.01", esNormal, 0},
        {"7", Qt::Key_Up, 1, 6, "6.00", esNormal, 0},  // clamped to the limit: no step beyond
        {"12x", Qt::Key_Up, 2, 1, "12x", esError, 2},
        {"1e", Qt::Key_Down, 1, 1, "1e", esError, 1},
        {"1e400", Qt::Key_Up, 1, 1, "1e400", esError, 1},
        {"", Qt::Key_Up, 1, 1, "", esError, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << '"' << c.typed << "\" " << c.presses << " presses");
        test::ServiceRecorder services;
        auto edit = MakeEdit();
        edit->SetFormatStr("#0.00#");
        edit->SetIncrement(0.01f);
        edit->SetMaxValue(6);
        edit->SetOptions(eoLimitMax);
        edit->SetValue(1);
        edit->selectAll();
        QTest::keyClicks(edit.get(), QString::fromLatin1(c.typed));
        if (*c.typed == 0) QTest::keyClick(edit.get(), Qt::Key_Backspace);
        const int beeps_typing = services.beeps;
        for (int i = 0; i < c.presses; ++i) QTest::keyClick(edit.get(), c.key);
        EXPECT_EQ(edit->Value(), c.value);
        EXPECT_EQ(edit->text(), QString::fromLatin1(c.text));
        EXPECT_EQ(edit->State(), c.state);
        EXPECT_EQ(services.beeps - beeps_typing, c.beeps);
        EXPECT_TRUE(services.errors.isEmpty());
    }
}

TEST(NumEdit, UpperLimitStopsStepsAndReportsOnce) {
    test::ServiceRecorder services;
    auto edit = MakeEdit();
    edit->SetMaxValue(10);
    edit->SetOptions(eoLimitMax);
    edit->SetValue(9.5);
    QSignalSpy limits(edit.get(), &TKvNumEdit::OnLimit);
    QSignalSpy changes(edit.get(), &TKvNumEdit::OnChange);

    edit->UpClick();
    EXPECT_EQ(edit->Value(), 10);
    EXPECT_TRUE(edit->LimitUp());
    EXPECT_EQ(limits.count(), 1);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(services.beeps, 0);

    edit->UpClick();
    EXPECT_EQ(services.beeps, 1) << "a refused step beeps";
    EXPECT_EQ(changes.count(), 1) << "and fires no OnChange";

    QTest::keyClick(edit.get(), Qt::Key_Up);
    EXPECT_EQ(edit->Value(), 10);
    EXPECT_EQ(services.beeps, 1) << "the key does not step at all";
    EXPECT_EQ(changes.count(), 2) << "it fires OnChange instead";

    edit->DownClick();
    EXPECT_EQ(edit->Value(), 9);
    EXPECT_FALSE(edit->LimitUp());
    EXPECT_EQ(limits.count(), 2);
}

TEST(NumEdit, NewLimitTakesEffectOnTheCurrentText) {
    test::ServiceRecorder services;
    auto edit = MakeEdit();
    edit->SetOptions(eoLimitMin | eoLimitMax);
    edit->SetMaxValue(100);
    edit->SetValue(50);
    EXPECT_FALSE(edit->LimitUp());
    edit->SetMaxValue(20);
    EXPECT_EQ(edit->Value(), 20);
    EXPECT_EQ(edit->text(), "20");
    EXPECT_TRUE(edit->LimitUp());
    Commit(*edit, "-5");
    EXPECT_EQ(edit->Value(), 0) << "MinValue is still 0";
    EXPECT_TRUE(edit->LimitLo());
    EXPECT_FALSE(edit->LimitUp());
}

TEST(NumEdit, RefusedWhenReadOnlyAndNoTypingWhenEditorDisabled) {
    test::ServiceRecorder services;
    auto edit = MakeEdit();
    edit->setReadOnly(true);
    edit->UpClick();
    EXPECT_EQ(edit->Value(), 0);
    EXPECT_EQ(services.beeps, 1);

    edit->setReadOnly(false);
    edit->SetEditorEnabled(false);
    QTest::keyClicks(edit.get(), "12");
    QTest::keyClick(edit.get(), Qt::Key_Backspace);
    EXPECT_EQ(edit->text(), "0");
    EXPECT_EQ(services.beeps, 4) << "one beep per character";
    QTest::keyClick(edit.get(), Qt::Key_Up);
    EXPECT_EQ(edit->Value(), 1) << "the arrows still step";
}

TEST(NumEdit, ValueChangedOnlyAfterLoadingAndOnlyForANewText) {
    test::ServiceRecorder services;
    auto edit = MakeEdit();
    QSignalSpy changed(edit.get(), &TKvNumEdit::OnValueChanged);
    edit->SetValue(5);
    EXPECT_EQ(changed.count(), 0) << "not before Loaded";
    edit->Loaded();
    edit->SetValue(6);
    EXPECT_EQ(changed.count(), 1);
    edit->SetValue(6.04);  // shows "6" again
    EXPECT_EQ(changed.count(), 1);
    edit->SetEditBase(ebHex);
    EXPECT_EQ(edit->text(), "6");
    EXPECT_EQ(changed.count(), 1) << "a change of notation is no new value";
}

TEST(NumEdit, NotationAndDerivedFormWrites) {
    test::ServiceRecorder services;
    auto edit = MakeEdit();
    edit->SetDigitsHex(4);
    edit->SetDigitsBool(4);
    edit->SetValueAsHex("FF");
    EXPECT_EQ(edit->Value(), 255);
    EXPECT_EQ(edit->text(), "255");
    EXPECT_EQ(edit->ValueAsHex(), "00FF");
    edit->SetValueAsBool("101");
    EXPECT_EQ(edit->Value(), 5);
    EXPECT_EQ(edit->ValueAsBool(), "00101");
    edit->SetEditBase(ebBin);
    EXPECT_EQ(edit->text(), "00101");
    edit->SetValue(-1);
    edit->SetEditBase(ebHex);
    EXPECT_EQ(edit->text(), "FFFFFFFF");
    edit->SetEditBase(ebFloat);
    edit->SetValueAsInt(7);
    EXPECT_EQ(edit->Value(), 7);
    edit->SetFormatStr("#0.00#");
    EXPECT_EQ(edit->text(), "7.00");
    edit->SetValueAsSingle(0.1f);
    EXPECT_EQ(edit->Value(), static_cast<double>(0.1f));
    EXPECT_EQ(edit->text(), "0.10");
    EXPECT_EQ(edit->State(), esNormal);
}

TEST(NumEdit, LeavingWithInvalidTextTakesTheFocusBack) {
    test::ServiceRecorder services;
    QWidget window;
    auto* edit = new TKvNumEdit(&window);
    edit->SetSeparators(kEnglish);
    auto* other = new QLineEdit(&window);
    other->move(0, 40);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    edit->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(edit->hasFocus());
    edit->selectAll();
    QTest::keyClicks(edit, "12x");
    other->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(edit->hasFocus());
    EXPECT_EQ(edit->State(), esError);
    EXPECT_EQ(Background(*edit), edit->ColorError());
    EXPECT_EQ(edit->selectedText(), "x");
    EXPECT_EQ(services.beeps, 1);

    // Mended, the field lets the focus go and applies the text.
    QTest::keyClick(edit, Qt::Key_Backspace);
    edit->setText("");
    other->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(other->hasFocus());
    EXPECT_EQ(edit->text(), "0");
    EXPECT_EQ(edit->State(), esNormal);
}

}  // namespace
}  // namespace quorvex
