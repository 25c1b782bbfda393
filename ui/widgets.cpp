// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/widgets.h"

#include <QApplication>
#include <QFontInfo>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QRadioButton>
#include <QResizeEvent>
#include <QStyleOptionSlider>

#include <algorithm>

namespace quorvex::ui {

QString ScreenText(const std::string& text) {
    QString s = QString::fromStdString(text);
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

QFont CaptionFont() {
    QFont condensed(QStringLiteral("DejaVu Sans Condensed"));
    condensed.setPixelSize(10);
    if (QFontInfo(condensed).family() == condensed.family()) return condensed;
    // The plain face at full width clips "Fast (stepped)" on scaled
    // screens; drawn at the condensed face's width it fits at every scale.
    QFont narrowed(QStringLiteral("DejaVu Sans"));
    narrowed.setPixelSize(10);
    narrowed.setStretch(QFont::SemiCondensed);
    return narrowed;
}

void PaintOwnBackground(QWidget* widget, QColor color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, color);
    widget->setPalette(palette);
    // Buttons fill with the button face unless told otherwise.
    widget->setBackgroundRole(QPalette::Window);
    widget->setAutoFillBackground(true);
}

namespace {

class CompactProxyStyle : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
        if (metric == PM_RadioButtonLabelSpacing || metric == PM_CheckBoxLabelSpacing) return 3;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

// Moves a vertical bar's thumb, groove and ticks into the travel that the
// bar promises: every geometry query and the painting see the bar's rect
// narrowed to it, so that mouse, keys and drawing agree.
class TrackProxyStyle : public QProxyStyle {
public:
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget) const override {
        QStyleOptionSlider travel;
        const QStyleOptionComplex* narrowed = Narrowed(control, option, widget, travel);
        if (narrowed == option) {
            QProxyStyle::drawComplexControl(control, option, painter, widget);
            return;
        }
        // The base style places the groove and the thumb inside the rect it
        // is given but the tick marks from the rect's top as if it were at
        // 0: drawn with the travel moved to the origin and the painter moved
        // by the same amount, all three agree.
        const QPoint offset = travel.rect.topLeft();
        travel.rect.moveTopLeft(QPoint(0, 0));
        painter->save();
        painter->translate(offset);
        QProxyStyle::drawComplexControl(control, &travel, painter, widget);
        painter->restore();
    }
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                         const QWidget* widget) const override {
        QStyleOptionSlider travel;
        return QProxyStyle::subControlRect(control, Narrowed(control, option, widget, travel), sub, widget);
    }
    SubControl hitTestComplexControl(ComplexControl control, const QStyleOptionComplex* option, const QPoint& pos,
                                     const QWidget* widget) const override {
        QStyleOptionSlider travel;
        const QStyleOptionComplex* narrowed = Narrowed(control, option, widget, travel);
        const SubControl hit = QProxyStyle::hitTestComplexControl(control, narrowed, pos, widget);
        // Beyond either end of the travel the bar still takes a click, as
        // part of its channel.
        if (hit == SC_None && narrowed != option && option->rect.contains(pos)) return SC_SliderGroove;
        return hit;
    }
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
        if (metric == PM_SliderSpaceAvailable && option) {
            QStyleOptionSlider travel;
            return QProxyStyle::pixelMetric(
                metric, Narrowed(CC_Slider, qstyleoption_cast<const QStyleOptionComplex*>(option), widget, travel),
                widget);
        }
        return QProxyStyle::pixelMetric(metric, option, widget);
    }

private:
    // The option with its rect narrowed to the thumb's travel plus one thumb
    // length; an option already narrowed (the base style asking back while
    // it paints) is passed on as it is.
    const QStyleOptionComplex* Narrowed(ComplexControl control, const QStyleOptionComplex* option,
                                        const QWidget* widget, QStyleOptionSlider& travel) const {
        const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
        if (control != CC_Slider || !slider || !widget || slider->orientation != Qt::Vertical ||
            slider->rect != widget->rect()) {
            return option;
        }
        travel = *slider;
        const int length = QProxyStyle::pixelMetric(PM_SliderLength, slider, widget);
        const int span = slider->rect.height() - TrackBar::kThumbTop - TrackBar::kThumbBottom;
        travel.rect = QRect(slider->rect.x(), slider->rect.y() + TrackBar::kThumbTop - length / 2,
                            slider->rect.width(), span + length);
        return &travel;
    }
};

// One instance of a style per application, owned by the application object.
template <typename Style>
QStyle* ApplicationStyle() {
    static QPointer<QStyle> style;
    if (!style) {
        style = new Style;
        style->setParent(qApp);
    }
    return style;
}

QStyle* TrackStyle() { return ApplicationStyle<TrackProxyStyle>(); }

}  // namespace

QStyle* CompactStyle() { return ApplicationStyle<CompactProxyStyle>(); }

void SetTextColor(QWidget* widget, QColor color) {
    QPalette p = widget->palette();
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) p.setColor(g, QPalette::WindowText, color);
    widget->setPalette(p);
}

// --- Label -----------------------------------------------------------------

Label::Label(QWidget* parent, const std::string& caption, QRect geometry, Align align, bool fixed_size)
    : QLabel(parent), caption_(caption), align_(align), fixed_size_(fixed_size) {
    switch (align) {
    case Align::left: setAlignment(Qt::AlignLeft | Qt::AlignTop); break;
    case Align::right: setAlignment(Qt::AlignRight | Qt::AlignTop); break;
    case Align::centre: setAlignment(Qt::AlignHCenter | Qt::AlignTop); break;
    }
    setGeometry(geometry);
    // Captions are shown as they stand: text typed into an edit and copied
    // here is never taken for markup.
    setTextFormat(Qt::PlainText);
    setText(ShownText());
    FitToText();
}

void Label::SetCaption(const std::string& caption) {
    if (caption == caption_) return;
    caption_ = caption;
    setText(ShownText());
    FitToText();
}

QString Label::ShownText() const {
    QStringList lines = ScreenText(caption_).split(QLatin1Char('\n'));
    for (QString& line : lines) {
        const qsizetype cut = line.size() - kShownLineLength;
        if (cut <= 0) continue;
        switch (align_) {
        case Align::left: line.truncate(kShownLineLength); break;
        case Align::right: line.remove(0, cut); break;
        case Align::centre: line = line.mid(cut / 2, kShownLineLength); break;
        }
    }
    return lines.join(QLatin1Char('\n'));
}

void Label::SetFontColor(QColor color) { SetTextColor(this, color); }

void Label::FitToText() {
    if (fixed_size_) return;
    const QSize hint = sizeHint();
    const QRect old = geometry();
    QRect fitted(old.topLeft(), hint);
    if (align_ == Align::right) fitted.moveRight(old.right());
    setGeometry(fitted);
}

// --- RadioGroup --------------------------------------------------------------

RadioGroup::RadioGroup(QWidget* parent, const std::string& caption, QRect geometry, std::vector<std::string> items)
    : QGroupBox(QString::fromStdString(caption), parent), items_(std::move(items)) {
    for (std::size_t i = 0; i < items_.size(); ++i) {
        auto* button = new QRadioButton(QString::fromStdString(items_[i]), this);
        button->setStyle(CompactStyle());
        buttons_.push_back(button);
        const int index = static_cast<int>(i);
        // A selection moved by the user (mouse or arrow keys) arrives here;
        // one made by Select has already recorded its index and is not seen
        // as a change.
        connect(button, &QRadioButton::toggled, this, [this, index](bool on) {
            if (on && index != index_) Select(index);
        });
    }
    setGeometry(geometry);
    Arrange();
    UpdateTabStop();
}

void RadioGroup::UpdateTabStop() {
    const int stop = index_ < 0 ? 0 : index_;
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        // The others still take the focus from a click or an arrow key.
        buttons_[i]->setFocusPolicy(static_cast<int>(i) == stop ? Qt::StrongFocus : Qt::ClickFocus);
    }
}

void RadioGroup::SetItemIndex(int index) {
    index = std::clamp(index, -1, static_cast<int>(items_.size()) - 1);
    if (index == index_) return;
    if (index < 0) {
        // Exclusive radio buttons refuse to clear the last check mark.
        for (QRadioButton* b : buttons_) {
            b->setAutoExclusive(false);
            b->setChecked(false);
            b->setAutoExclusive(true);
        }
        index_ = -1;
        UpdateTabStop();
        if (OnClick) OnClick();
        return;
    }
    Select(index);
}

std::string RadioGroup::SelectedCaption() const {
    return index_ < 0 ? std::string() : items_[static_cast<std::size_t>(index_)];
}

void RadioGroup::Select(int index) {
    index_ = index;
    buttons_[static_cast<std::size_t>(index)]->setChecked(true);
    UpdateTabStop();
    if (OnClick) OnClick();
}

void RadioGroup::resizeEvent(QResizeEvent* event) {
    QGroupBox::resizeEvent(event);
    Arrange();
}

// One column, the items spread evenly over the height below the caption.
void RadioGroup::Arrange() {
    const int count = static_cast<int>(buttons_.size());
    if (count == 0) return;
    const int caption_height = fontMetrics().height();
    const int free_height = height() - caption_height - 5;
    const int item_height = free_height / count;
    const int top = caption_height + 1 + (free_height % count) / 2;
    for (int i = 0; i < count; ++i) {
        buttons_[static_cast<std::size_t>(i)]->setGeometry(8, top + i * item_height, width() - 10, item_height);
    }
}

// --- TrackBar ----------------------------------------------------------------

TrackBar::TrackBar(QWidget* parent, QRect geometry, int min, int max, int position, int page_size, int tick_every,
                   Ticks ticks)
    : QSlider(Qt::Vertical, parent) {
    setStyle(TrackStyle());
    // Min at the top; Up and Page Up move the thumb (and the position) up.
    setInvertedAppearance(true);
    setInvertedControls(true);
    setRange(min, max);
    setValue(position);
    setPageStep(page_size);
    setSingleStep(1);
    switch (ticks) {
    case Ticks::none: setTickPosition(QSlider::NoTicks); break;
    case Ticks::left: setTickPosition(QSlider::TicksLeft); break;
    case Ticks::right: setTickPosition(QSlider::TicksRight); break;
    }
    setTickInterval(tick_every);
    setGeometry(geometry);
    connect(this, &QSlider::valueChanged, this, [this] {
        if (OnChange) OnChange();
    });
}

QRect TrackBar::ThumbRect() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
}

// A press on the groove pages towards the pointer, again and again from a
// timer until the release. When another window took the release (a dialog
// that opened meanwhile), no release comes: the paging ends here instead of
// running on to the pointer by itself.
void TrackBar::timerEvent(QTimerEvent* event) {
    if (repeatAction() != SliderNoAction && !(QGuiApplication::mouseButtons() & Qt::LeftButton)) {
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(), QPointF(), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QSlider::mouseReleaseEvent(&release);
        setRepeatAction(SliderNoAction);
        return;
    }
    QSlider::timerEvent(event);
}

void TrackBar::SetMin(int min) {
    if (min > maximum()) return;
    setMinimum(min);
}

void TrackBar::SetMax(int max) {
    if (max < minimum()) return;
    setMaximum(max);
}

// --- Edit, CheckBox, GroupBox ------------------------------------------------

Edit::Edit(QWidget* parent, const std::string& text, QRect geometry) : QLineEdit(parent) {
    setText(QString::fromStdString(text));
    setGeometry(geometry);
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (OnChange) OnChange();
    });
}

CheckBox::CheckBox(QWidget* parent, const std::string& caption, QRect geometry, bool checked, bool box_right)
    : QCheckBox(QString::fromStdString(caption), parent) {
    setStyle(CompactStyle());
    if (box_right) setLayoutDirection(Qt::RightToLeft);
    setChecked(checked);
    setGeometry(geometry);
    connect(this, &QCheckBox::clicked, this, [this] {
        if (OnClick) OnClick();
    });
}

GroupBox::GroupBox(QWidget* parent, const std::string& caption, QRect geometry)
    : QGroupBox(QString::fromStdString(caption), parent) {
    setGeometry(geometry);
}

// --- Timer -------------------------------------------------------------------

Timer::Timer(QObject* parent, int interval_ms) : QObject(parent) {
    timer_.setInterval(interval_ms);
    // Coarse timers may fire up to 5 % late; the ticks here keep to the
    // interval.
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (OnTimer) OnTimer();
    });
}

void Timer::SetEnabled(bool enabled) {
    // QTimer::start() would restart a running interval; an enabled timer
    // keeps its phase.
    if (enabled == timer_.isActive()) return;
    if (enabled) timer_.start();
    else timer_.stop();
}

}  // namespace quorvex::ui
