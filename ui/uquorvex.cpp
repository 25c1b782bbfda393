// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's construction: controls, tab order, colours, the creation
// handler, and its side of playback and of the keyboard.

#include "ui/uquorvex.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcutEvent>
#include <QWindow>

#include "controls/kv_gradient.h"
#include "controls/kv_num_spin.h"
#include "engine/ranges.h"
#include "output/noise_player.h"
#include "output/playback.h"
#include "output/pulse_wave_device.h"
#include "output/wave_device.h"
#include "ui/widgets.h"

namespace quorvex {

using ui::Label;
using ui::TrackBar;

namespace {

const QColor kMoneyGreen(192, 220, 192);
const QColor kCream(255, 251, 240);
const QColor kSilver(192, 192, 192);
const QColor kNavy(0, 0, 128);
const QColor kGreen(0, 128, 0);
const QColor kRed(255, 0, 0);
const QColor kYellow(255, 255, 0);

constexpr int kClientWidth = 443;
constexpr int kClientHeight = 388;

// Whether the control itself is enabled, whatever its parent is.
bool OwnEnabled(const QWidget* w) { return !w->testAttribute(Qt::WA_ForceDisabled); }

std::vector<std::string> RangeCaptions() {
    std::vector<std::string> captions;
    for (const FrequencyRange& item : kRanges) captions.emplace_back(item.caption);
    return captions;
}

}  // namespace

TfToneGenerator::TfToneGenerator()
    : TfToneGenerator(std::make_unique<PulseWaveDevice>(), nullptr, std::make_unique<NoisePlayer>(), {}, {}) {}

TfToneGenerator::TfToneGenerator(WaveOutDevice& device, WaveOutDevice& noise_device, MessageSink messages,
                                 HandlerObserver observer)
    : TfToneGenerator(nullptr, &device, std::make_unique<NoisePlayer>(noise_device), std::move(messages),
                      std::move(observer)) {}

TfToneGenerator::TfToneGenerator(std::unique_ptr<WaveOutDevice> own_device, WaveOutDevice* device,
                                 std::unique_ptr<NoisePlayer> noise, MessageSink messages, HandlerObserver observer)
    : own_device_(std::move(own_device)),
      device_(device ? *device : *own_device_),
      messages_(std::move(messages)),
      handler_observer_(std::move(observer)),
      gen_(*this),
      playback_(std::make_unique<Playback>(gen_, *this, device_)),
      noise_(std::move(noise)) {
    setObjectName(QStringLiteral("fToneGenerator"));
    setWindowTitle(QStringLiteral("   Q u o r v e x   V 2.0"));
    setFixedSize(kClientWidth, kClientHeight);
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    CreateControls();
    SetTabOrder();
    BindHandlers();
    FormCreate();
    // Every control's presses pass the window first (see StalePress).
    for (QWidget* control : findChildren<QWidget*>()) control->installEventFilter(this);
    CreateSaveCommand();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect r = rect();
        r.moveCenter(screen->availableGeometry().center());
        move(r.topLeft());
    }
}

TfToneGenerator::~TfToneGenerator() {
    // The controls go after this body, and their going moves the focus: the
    // application must not call back into a window that is half destroyed.
    disconnect(qApp, &QApplication::focusChanged, this, nullptr);
    // FormDestroy: output stops first (the device is closed without waiting
    // on the server); the memory goes with gen_.
    playback_->FormDestroy();
}

// --- Controls ----------------------------------------------------------------

void TfToneGenerator::CreateControls() {
    setFont(ui::CaptionFont());
    QPalette window_palette = palette();
    // Disabled controls keep the style's grey text.
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) {
        window_palette.setColor(g, QPalette::WindowText, Qt::black);
    }
    setPalette(window_palette);

    pnlMain = new QFrame(this);
    pnlMain->setObjectName(QStringLiteral("pnlMain"));
    pnlMain->setFrameStyle(QFrame::Panel | QFrame::Raised);
    pnlMain->setLineWidth(1);
    pnlMain->setGeometry(0, 0, 441, 385);

    Label1 = new Label(pnlMain, "to", {240, 252, 25, 13}, Label::Align::centre, true);
    Label2 = new Label(pnlMain, " Hz", {312, 252, 16, 13});
    // The status text stands in the free strip under the manual-frequency
    // group, above Start: inside the marker group's rectangle it would
    // cover the group's caption, and beneath the group nobody would see it.
    lblFnow = new Label(pnlMain, "fNow Hz", {16, 330, 41, 13});

    gradient = new TKvGradient(pnlMain);
    gradient->setGeometry(1, 9, 439, 368);
    gradient->GradSettings()->SetColorFrom(kSilver);
    gradient->GradSettings()->SetColorTo(kCream);
    gradient->GradSettings()->SetVisible(false);
    gradient->GradSettings()->SetStyle(gsHorizontal1);
    gradient->Loaded();

    lblLeftAttn = new Label(pnlMain, "Left Attn", {309, 231, 40, 13});

    gbFrequencyRange = new ui::RadioGroup(pnlMain, " Frequency Range ", {16, 9, 153, 113}, RangeCaptions());
    grpSweepMode = new ui::RadioGroup(pnlMain, " Sweep Mode ", {192, 8, 129, 57}, {"Linear", "Log"});
    grpSweepSpeed = new ui::RadioGroup(pnlMain, " Sweep Speed ", {187, 72, 97, 137},
                                       {"Fast (smooth)", "Fast (stepped)", "Slow", "Manual", "No sweep"});
    grpSweepSpeed->setToolTip(QStringLiteral(" Changes the time between start and end of sweep "));

    edtF1 = new ui::Edit(pnlMain, "F1", {192, 248, 49, 21});
    edtF2 = new ui::Edit(pnlMain, "F2", {264, 248, 49, 21});

    grpOctaveMarkers = new ui::GroupBox(pnlMain, " Half-octave Marker ", {192, 272, 129, 49});
    GroupBox1 = new ui::GroupBox(pnlMain, " Output Level ", {335, 8, 97, 225});
    grpChannels = new ui::RadioGroup(pnlMain, " Channels ", {336, 248, 97, 73},
                                     {"In phase", "180\u00B0 phase", "Independent"});
    grpChannels->SetItemIndex(0);  // stored selection; no handler is bound yet
    grpSetFrequency = new ui::GroupBox(pnlMain, " Manual Frequency ", {16, 128, 153, 201});

    btnStart = new QPushButton(QStringLiteral("&Start"), pnlMain);
    btnStart->setGeometry(16, 344, 65, 25);
    btnStart->setDefault(true);
    btnExit = new QPushButton(QStringLiteral("E&xit"), pnlMain);
    btnExit->setGeometry(96, 344, 65, 25);

    tbLowPower = new TrackBar(pnlMain, {298, 71, 33, 154}, 1, 30, 20, 3, 5, TrackBar::Ticks::left);
    gbChirpControl = new ui::GroupBox(pnlMain, "Chirp Control", {184, 328, 249, 41});

    btnAddWhiteNoise = new QPushButton(QStringLiteral(" Add White Noise"), pnlMain);
    btnAddWhiteNoise->setGeometry(187, 215, 105, 31);
    QFont bold = btnAddWhiteNoise->font();
    bold.setBold(true);
    btnAddWhiteNoise->setFont(bold);
    // A focused push button takes Enter itself, as the default button does.
    for (QPushButton* b : {btnStart, btnExit, btnAddWhiteNoise}) b->setAutoDefault(true);

    // The half-octave marker group.
    lblLastMarker = new Label(grpOctaveMarkers, "Last at:", {80, 20, 35, 13});
    chkOctaveMarker = new ui::CheckBox(grpOctaveMarkers, "Enabled", {8, 16, 65, 25}, false);

    // The level group.
    Label3 = new Label(GroupBox1, " dB ", {2, 168, 93, 25}, Label::Align::centre, true);
    Label3->SetFontColor(kGreen);
    lblLeftLevel = new Label(GroupBox1, "-20", {18, 176, 15, 13}, Label::Align::right);
    lblLeftLevel->setAutoFillBackground(true);
    QPalette face = lblLeftLevel->palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    lblLeftLevel->setPalette(face);
    lblRightLevel = new Label(GroupBox1, "-20", {64, 176, 15, 13});
    tkbLeftLevel = new TrackBar(GroupBox1, {8, 16, 33, 161}, 0, 26, 0, 3, 5, TrackBar::Ticks::left);
    tkbRightLevel = new TrackBar(GroupBox1, {61, 16, 33, 161}, 0, 26, 12, 3, 5, TrackBar::Ticks::right);
    chkLeft = new ui::CheckBox(GroupBox1, "L", {8, 200, 25, 17}, true, true);
    chkRight = new ui::CheckBox(GroupBox1, "R", {64, 200, 25, 17}, true);

    // The manual-frequency group.
    lblFMaxR = new Label(grpSetFrequency, "00000", {120, 24, 30, 13});
    lblFMinR = new Label(grpSetFrequency, "00000", {120, 140, 30, 13});
    lblFMaxL = new Label(grpSetFrequency, "00000", {14, 24, 30, 13}, Label::Align::right);
    lblFMinL = new Label(grpSetFrequency, "00000", {13, 140, 30, 13}, Label::Align::right);
    lblFLeft = new Label(grpSetFrequency, "Hz", {55, 160, 13, 13}, Label::Align::right);
    lblFRight = new Label(grpSetFrequency, "Hz", {96, 160, 13, 13});
    tkbLeftFrequency = new TrackBar(grpSetFrequency, {49, 16, 25, 145}, 0, 10, 9, 1, 1, TrackBar::Ticks::none);
    tkbRightFrequency = new TrackBar(grpSetFrequency, {88, 16, 25, 145}, 0, 10, 9, 1, 1, TrackBar::Ticks::none);
    cbLockFreq = new ui::CheckBox(grpSetFrequency, "Lock L + R frequencies", {8, 180, 137, 17}, true);
    ui::PaintOwnBackground(cbLockFreq, kMoneyGreen);
    ui::SetTextColor(cbLockFreq, kNavy);

    // The chirp group.
    lblHzPerSec = new Label(gbChirpControl, "Hz/Sec", {128, 16, 37, 13});
    lblChirpCum = new Label(gbChirpControl, "Cum:", {176, 16, 24, 13});
    nsChirp = new TKvNumSpin(gbChirpControl);
    nsChirp->setGeometry(56, 11, 65, 22);
    nsChirp->SetFormatStr(QStringLiteral("#0.00#"));
    nsChirp->SetIncrement(0.01f);
    nsChirp->SetStartDelay(500);
    nsChirp->SetInterval(100);
    nsChirp->SetColorDefault(palette().color(QPalette::Base));
    nsChirp->SetDigitsBool(0);
    nsChirp->SetDigitsHex(0);
    nsChirp->Loaded();
    cbChirp = new ui::CheckBox(gbChirpControl, "On", {8, 14, 41, 17}, false);

    for (QWidget* group : std::initializer_list<QWidget*>{gbFrequencyRange, grpSweepMode, grpSweepSpeed,
                                                          grpOctaveMarkers, GroupBox1, grpChannels,
                                                          grpSetFrequency, gbChirpControl}) {
        ui::PaintOwnBackground(group, kMoneyGreen);
    }
    // Label1, Label2 and lblFnow lie under the background, created after
    // them, and lblLeftAttn reaches under the level group: bring them to the
    // front, where each covers nothing but the background.
    Label1->raise();
    lblLeftAttn->raise();
    Label2->raise();
    lblFnow->raise();

    Timer = new ui::Timer(this, 1000);
    timerChirp = new ui::Timer(this, 1000);
}

void TfToneGenerator::SetTabOrder() {
    std::vector<QWidget*> order;
    auto radios = [&order](ui::RadioGroup* g) {
        for (std::size_t i = 0; i < g->Items().size(); ++i) order.push_back(g->Button(static_cast<int>(i)));
    };
    radios(gbFrequencyRange);
    order.insert(order.end(), {tkbLeftFrequency, tkbRightFrequency, cbLockFreq});
    radios(grpSweepMode);
    radios(grpSweepSpeed);
    order.insert(order.end(), {edtF1, edtF2, chkOctaveMarker, tkbLeftLevel, tkbRightLevel, chkLeft, chkRight});
    radios(grpChannels);
    order.insert(order.end(), {btnStart, btnExit, tbLowPower, nsChirp, cbChirp, btnAddWhiteNoise});
    for (std::size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}

void TfToneGenerator::BindHandlers() {
    tkbLeftLevel->OnChange = [this] { tkbLeftLevelChange(); };
    tbLowPower->OnChange = [this] { tkbLeftLevelChange(); };
    tkbRightLevel->OnChange = [this] { tkbRightLevelChange(); };
    chkLeft->OnClick = [this] { chkLeftClick(); };
    chkRight->OnClick = [this] { chkLeftClick(); };
    grpChannels->OnClick = [this] { grpChannelsClick(); };
    Timer->OnTimer = [this] { TimerTimer(); };

    gbFrequencyRange->OnClick = [this] { gbFrequencyRangeClick(); };
    grpSweepMode->OnClick = [this] { grpSweepModeClick(); };
    grpSweepSpeed->OnClick = [this] { grpSweepSpeedClick(); };
    edtF1->OnChange = [this] { edtF1Change(); };
    edtF2->OnChange = [this] { edtF2Change(); };

    tkbLeftFrequency->OnChange = [this] { tkbLeftFrequencyChange(); };
    tkbRightFrequency->OnChange = [this] { tkbRightFrequencyChange(); };
    cbLockFreq->OnClick = [this] { cbLockFreqClick(); };
    cbChirp->OnClick = [this] { cbChirpClick(); };
    timerChirp->OnTimer = [this] { timerChirpTimer(); };

    connect(btnStart, &QPushButton::clicked, this, [this] { playback_->btnStartClick(); });
    connect(btnExit, &QPushButton::clicked, this, [this] { playback_->btnExitClick(); });
    connect(btnAddWhiteNoise, &QPushButton::clicked, this, [this] { btnAddWhiteNoiseClick(); });
    noise_->SetLostHandler([this](LossCause cause) { WhiteNoiseLost(cause); });
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { ShowDefaultButton(now); });
}

// The scale beside the level bars: each number stands level with the bar
// position it names, beneath the bars so it shows in the gap between them.
void TfToneGenerator::CreateDbScaleLabels() {
    const int h = tkbLeftLevel->height();
    const int t = tkbLeftLevel->y();
    for (int i = 0; i <= 25; i += 5) {
        const std::string text = i == 0 ? "0" : std::string("-").append(std::to_string(i));
        auto* label = new Label(GroupBox1, text, {0, (h - 27) * i / 26 + t + 8, GroupBox1->width(), 13},
                                Label::Align::centre, true);
        label->resize(GroupBox1->width(), label->sizeHint().height());
        label->SetFontColor(i <= 5 ? kRed : i == 10 ? kYellow : kGreen);
        label->setAttribute(Qt::WA_TranslucentBackground);
        label->lower();
        label->show();
        dBScaleLabels.push_back(label);
    }
}

void TfToneGenerator::FormCreate() {
    // The selection handlers below run before the generator's defaults are
    // in force: with the lock still off, each frequency bar's handler runs
    // on its own instead of mirroring the other bar.
    gen_.locked_frequencies = false;
    tkbLeftLevel->SetPosition(12);
    tkbRightLevel->SetPosition(12);
    CreateDbScaleLabels();
    grpSweepMode->SetItemIndex(1);
    gbFrequencyRange->SetItemIndex(0);
    grpSweepSpeed->SetItemIndex(0);
    grpChannels->SetItemIndex(0);
    // The generator's memory and defaults were set up with gen_; the lock
    // comes on now, and a piece of memory that could not be obtained is
    // reported, output refusing to start without it.
    gen_.locked_frequencies = true;
    if (!gen_.p_buffer1 || !gen_.p_buffer2) ShowMessage(kApplicationTitle, "Failed to get memory for output buffers");
    if (!gen_.left_sine_table || !gen_.right_sine_table) {
        ShowMessage(kApplicationTitle, "Failed to get memory for sine-wave tables");
    }
    UpdateLevels();
}

// --- Messages, closing, keyboard ---------------------------------------------

void TfToneGenerator::ShowMessage(const std::string& caption, const std::string& text) {
    if (messages_) {
        messages_(caption, text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(caption), ui::ScreenText(text), QMessageBox::Ok,
                    this);
    box.exec();
}

void TfToneGenerator::ShowWarning(const std::string& text) {
    if (messages_) {
        messages_("Warning", text);
        return;
    }
    QMessageBox::warning(this, QStringLiteral("Warning"), ui::ScreenText(text));
}

void TfToneGenerator::CloseWindow() { close(); }

void TfToneGenerator::closeEvent(QCloseEvent* event) {
    playback_->FormCloseQuery();
    event->accept();
}

// Enter presses Start wherever the focus is: a focused push button takes it
// itself, the chirp-rate field keeps it for its own use, and every other
// control lets it through to here.
void TfToneGenerator::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const QWidget* focus = QApplication::focusWidget();
    const bool in_chirp_rate = focus && (focus == nsChirp || nsChirp->isAncestorOf(focus));
    if (enter && !in_chirp_rate && btnStart->isEnabled()) {
        btnStart->click();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TfToneGenerator::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The window system's presses are seen here before the focus moves.
    if (QWindow* handle = windowHandle()) handle->installEventFilter(this);
}

// A press moves the focus before the control sees it. When the field that
// loses the focus reports an error there, the report's dialog runs while the
// mouse button is still down and takes its release; the press would then
// reach the control after the release: a button or a check box drawn pressed
// for good, a bar paging on towards the pointer by itself. Such a press is
// dropped, whatever the control: the click never happened for the user
// either.
bool TfToneGenerator::StalePress(const QMouseEvent& press) const {
    const bool from_window_system = window_press_ && press.timestamp() == window_press_time_;
    return from_window_system && !(QGuiApplication::mouseButtons() & press.button());
}

bool TfToneGenerator::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress) {
        const auto& press = *static_cast<QMouseEvent*>(event);
        if (watched == windowHandle()) {
            window_press_ = true;
            window_press_time_ = press.timestamp();
        } else {
            const bool stale = StalePress(press);
            window_press_ = false;
            if (stale) return true;
        }
    }
    if (event->type() == QEvent::Shortcut && ClickAtOnce(watched, *static_cast<QShortcutEvent*>(event))) return true;
    if (watched == btnStart && event->type() == QEvent::KeyPress) {
        btnStartKeyDown(static_cast<QKeyEvent*>(event)->key());
    }
    return QWidget::eventFilter(watched, event);
}

// A push button's accelerator (Alt+S, Alt+X) clicks it from a 100 ms timer
// in the toolkit, to show the button pressed first; Stop would sound on for
// that long, and a restart could be waiting for its close meanwhile. Here it
// clicks at once, as Enter does, after taking the focus as the toolkit's
// would. An ambiguous accelerator is left to the toolkit.
bool TfToneGenerator::ClickAtOnce(QObject* watched, const QShortcutEvent& shortcut) {
    auto* button = qobject_cast<QPushButton*>(watched);
    if (!button || shortcut.isAmbiguous()) return false;
    if (button->isEnabled()) {
        if (!button->hasFocus()) button->setFocus(Qt::ShortcutFocusReason);
        button->click();
    }
    return true;
}

// The default frame shows what Enter presses: Start, unless another push
// button has the focus and takes Enter itself. The toolkit keeps that frame
// only inside dialogs; elsewhere a button that loses the focus drops it.
void TfToneGenerator::ShowDefaultButton(const QWidget* focus) {
    if (!focus || focus->window() != this) return;
    const auto* button = qobject_cast<const QPushButton*>(focus);
    btnStart->setDefault(!button || button == btnStart);
}

// --- ControlPanel and PlaybackView --------------------------------------------

void TfToneGenerator::SetLastMarkerText(const std::string& text) { lblLastMarker->SetCaption(text); }

ChannelFrequencies TfToneGenerator::ManualFrequencies() {
    tkbLeftFrequencyChange();
    tkbRightFrequencyChange();
    return {gen_.fl, gen_.fr};
}

int TfToneGenerator::LowPowerPosition() const { return tbLowPower->Position(); }

std::string TfToneGenerator::LowerLimitText() const { return edtF1->Text(); }

std::string TfToneGenerator::UpperLimitText() const { return edtF2->Text(); }

bool TfToneGenerator::OctaveMarkerChecked() const { return chkOctaveMarker->Checked(); }

QWidget* TfToneGenerator::ControlWidget(PlaybackControl control) const {
    switch (control) {
    case PlaybackControl::grpChannels: return grpChannels;
    case PlaybackControl::grpOctaveMarkers: return grpOctaveMarkers;
    case PlaybackControl::chkOctaveMarker: return chkOctaveMarker;
    case PlaybackControl::edtF1: return edtF1;
    case PlaybackControl::edtF2: return edtF2;
    case PlaybackControl::gbFrequencyRange: return gbFrequencyRange;
    case PlaybackControl::grpSweepMode: return grpSweepMode;
    case PlaybackControl::grpSweepSpeed: return grpSweepSpeed;
    case PlaybackControl::tkbLeftLevel: return tkbLeftLevel;
    case PlaybackControl::tkbRightLevel: return tkbRightLevel;
    case PlaybackControl::lblLeftLevel: return lblLeftLevel;
    case PlaybackControl::lblRightLevel: return lblRightLevel;
    case PlaybackControl::chkLeft: return chkLeft;
    case PlaybackControl::chkRight: return chkRight;
    case PlaybackControl::lblLastMarker: return lblLastMarker;
    }
    return nullptr;
}

bool TfToneGenerator::IsControlEnabled(PlaybackControl control) const {
    return OwnEnabled(ControlWidget(control));
}

void TfToneGenerator::SetControlEnabled(PlaybackControl control, bool enabled) {
    QWidget* widget = ControlWidget(control);
    // A control that output disables hands its focus to Start: from there
    // the keyboard stops output again (and Page Up/Down step a manual tone)
    // without changing anything. The toolkit would hand it on along the tab
    // order, into a level bar, or to nothing at all.
    const QWidget* focus = focusWidget();
    if (!enabled && focus && (focus == widget || widget->isAncestorOf(focus)) && btnStart->isEnabled()) {
        btnStart->setFocus(Qt::OtherFocusReason);
    }
    widget->setEnabled(enabled);
}

void TfToneGenerator::SetStartCaption(const std::string& caption) {
    if (btnStart->text() != QString::fromStdString(caption)) btnStart->setText(QString::fromStdString(caption));
}

void TfToneGenerator::SetFnowText(const std::string& text) { lblFnow->SetCaption(text); }

void TfToneGenerator::SetFnowVisible(bool visible) { lblFnow->setVisible(visible); }

}  // namespace quorvex
