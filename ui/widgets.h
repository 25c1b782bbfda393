// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Thin Qt widgets with the behaviour the main window's handlers rely on:
// property writes that act only on a change, change handlers that run nested
// inside the write that caused them, and captions whose lone carriage returns
// break the line on screen while the caption itself stays exact.
//
// Thread note: user-interface thread only, like every widget.

#include <QCheckBox>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QObject>
#include <QSlider>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

class QRadioButton;
class QStyle;

namespace quorvex::ui {

// The text as it shows on screen: "\r\n" and a lone '\r' become '\n'.
QString ScreenText(const std::string& text);

// A handler bound to a control's event; empty means none.
using Handler = std::function<void()>;

// A caption label placed at a fixed position. Unless it has a fixed size it
// fits its size to the text; a right-aligned one keeps its right edge.
// A line longer than kShownLineLength characters is shown cut to that length
// (its start when left-aligned, its end when right-aligned, its middle when
// centred): no window shows more of one line, and a caption that grows with
// every keystroke then costs the same to lay out at any length.
class Label : public QLabel {
public:
    enum class Align { left, right, centre };
    static constexpr int kShownLineLength = 256;
    Label(QWidget* parent, const std::string& caption, QRect geometry, Align align = Align::left,
          bool fixed_size = false);

    // The caption exactly as set; on screen '\r' breaks the line.
    const std::string& Caption() const { return caption_; }
    // Does nothing when the caption is unchanged.
    void SetCaption(const std::string& caption);
    // Foreground colour of the text (while enabled).
    void SetFontColor(QColor color);

private:
    void FitToText();
    QString ShownText() const;

    std::string caption_;
    Align align_;
    bool fixed_size_;
};

// A group of radio buttons under a caption, spread evenly down the box.
// The click handler runs when the selection changes, whether by the user or
// by SetItemIndex; selecting the current item again runs nothing.
// The group is one stop of the tab order, entered at its selected item (the
// first one while none is selected); the arrow keys move within it.
class RadioGroup : public QGroupBox {
public:
    RadioGroup(QWidget* parent, const std::string& caption, QRect geometry, std::vector<std::string> items);

    // -1 when nothing is selected.
    int ItemIndex() const { return index_; }
    // Selects item index (beyond the last item: the last item; below 0: none)
    // and runs the click handler when that changes the selection.
    void SetItemIndex(int index);
    // Caption of the selected item, empty when none is selected.
    std::string SelectedCaption() const;
    const std::vector<std::string>& Items() const { return items_; }
    QRadioButton* Button(int index) const { return buttons_.at(static_cast<std::size_t>(index)); }

    Handler OnClick;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Arrange();
    void Select(int index);
    void UpdateTabStop();

    std::vector<std::string> items_;
    std::vector<QRadioButton*> buttons_;
    int index_ = -1;
};

// A vertical track bar with its min at the top. The change handler runs
// exactly when the position changes, also when a new range moves it; a max
// below the current min or a min above the current max is ignored.
// The thumb's centre travels from kThumbTop pixels below the bar's top to
// kThumbBottom pixels above its bottom, evenly over the positions, so that
// a scale beside the bar can be laid out from the bar's geometry alone.
class TrackBar : public QSlider {
public:
    enum class Ticks { none, left, right };
    TrackBar(QWidget* parent, QRect geometry, int min, int max, int position, int page_size, int tick_every,
             Ticks ticks);

    int Position() const { return value(); }
    void SetPosition(int position) { setValue(position); }
    int Min() const { return minimum(); }
    int Max() const { return maximum(); }
    void SetMin(int min);
    void SetMax(int max);
    void SetLineSize(int size) { setSingleStep(size); }
    void SetPageSize(int size) { setPageStep(size); }

    // Where the thumb is drawn, in the bar's coordinates.
    QRect ThumbRect() const;

    static constexpr int kThumbTop = 13;
    static constexpr int kThumbBottom = 14;

    Handler OnChange;

protected:
    void timerEvent(QTimerEvent* event) override;
};

// A one-line edit whose change handler runs whenever its text changes,
// by typing or by SetText; setting the same text runs nothing.
class Edit : public QLineEdit {
public:
    Edit(QWidget* parent, const std::string& text, QRect geometry);

    std::string Text() const { return text().toStdString(); }
    void SetText(const std::string& text) { setText(QString::fromStdString(text)); }

    Handler OnChange;
};

// A check box whose click handler runs when the user toggles it; setting the
// check mark from code runs nothing.
class CheckBox : public QCheckBox {
public:
    CheckBox(QWidget* parent, const std::string& caption, QRect geometry, bool checked, bool box_right = false);

    bool Checked() const { return isChecked(); }

    Handler OnClick;
};

// A plain group box under a caption.
class GroupBox : public QGroupBox {
public:
    GroupBox(QWidget* parent, const std::string& caption, QRect geometry);
};

// A repeating timer: while enabled it ticks once per interval, the first tick
// one interval after it was enabled. Enabling it again while it runs does
// not restart the interval.
class Timer : public QObject {
public:
    Timer(QObject* parent, int interval_ms);

    bool Enabled() const { return timer_.isActive(); }
    void SetEnabled(bool enabled);
    // Milliseconds until the next tick, -1 when disabled.
    int RemainingMs() const { return timer_.remainingTime(); }

    Handler OnTimer;

private:
    QTimer timer_;
};

// Gives a widget its own background colour, independent of its parent, in
// every state (enabled or not); a button fills it too, not its button face.
void PaintOwnBackground(QWidget* widget, QColor color);

// Text colour of an enabled widget; disabled it shows the style's grey.
void SetTextColor(QWidget* widget, QColor color);

// The font of the window's captions: the condensed sans face at 10 px.
// Where that face is not installed, the plain face narrowed by the toolkit
// to about the same width, so that every caption still fits the fixed
// layout. Sizes are device-independent: scaled screens scale it.
QFont CaptionFont();

// The application's style with the check marks of radio buttons and check
// boxes closer to their text, so that captions fit the fixed layout. Owned by
// the application object; needs one to exist.
QStyle* CompactStyle();

}  // namespace quorvex::ui
