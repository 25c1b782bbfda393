// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window: every control of the tone generator, the handlers that
// turn the user's choices into generator settings, and the generator state
// itself, which the window owns from creation to destruction.
//
// Thread note: user-interface thread only. The device's notifications reach
// Playback through the event queue; nothing here is touched by another thread.

#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/generator.h"
#include "output/playback_view.h"

class QAction;
class QContextMenuEvent;
class QFrame;
class QMenu;
class QMouseEvent;
class QPushButton;
class QShortcutEvent;

namespace quorvex {
class Playback;
class WaveOutDevice;
class NoisePlayer;
enum class LossCause : std::uint8_t;
class TKvNumSpin;
class TKvGradient;
}  // namespace quorvex

namespace quorvex::ui {
class Label;
class RadioGroup;
class TrackBar;
class Edit;
class CheckBox;
class GroupBox;
class Timer;
}  // namespace quorvex::ui

namespace quorvex {

// The application's title, shown where the system names the program.
inline constexpr const char* kApplicationTitle = "Tone Generator";

class TfToneGenerator : public QWidget, public ControlPanel, public PlaybackView {
public:
    // Shows a message box: caption and text (a lone '\r' breaks the line).
    using MessageSink = std::function<void(const std::string& caption, const std::string& text)>;

    // Plays through the default sound server.
    TfToneGenerator();
    // Called with each handler's name as the handler starts; tests attach
    // one to follow the handlers. Nothing is recorded without one.
    using HandlerObserver = std::function<void(const char* handler)>;

    // Plays the tone through `device` and the white noise through
    // `noise_device`; both outlive the window. Message boxes go to
    // `messages` when it is set (tests), otherwise on screen. `observer`
    // sees the handlers from the creation handler on.
    TfToneGenerator(WaveOutDevice& device, WaveOutDevice& noise_device, MessageSink messages = {},
                    HandlerObserver observer = {});
    // Stops output and waits for the device to close before the memory goes.
    ~TfToneGenerator() override;

    TfToneGenerator(const TfToneGenerator&) = delete;
    TfToneGenerator& operator=(const TfToneGenerator&) = delete;

    GeneratorState& gen() { return gen_; }
    const GeneratorState& gen() const { return gen_; }
    Playback& playback() { return *playback_; }

    void SetHandlerObserver(HandlerObserver observer) { handler_observer_ = std::move(observer); }

    // Asks where to save a file, proposing `proposed` (a path); returns the
    // path chosen, or an empty text when the user cancels.
    using SaveDialog = std::function<std::string(QWidget* parent, const std::string& proposed)>;
    // Replaces the desktop's save dialog (tests).
    void SetSaveDialog(SaveDialog dialog) { save_dialog_ = std::move(dialog); }

    // --- Handlers ----------------------------------------------------------
    void UpdateLevels();
    void tkbLeftLevelChange();
    void tkbRightLevelChange();
    void chkLeftClick();
    void grpChannelsClick();
    void TimerTimer();

    void gbFrequencyRangeClick();
    void grpSweepModeClick();
    void grpSweepSpeedClick();
    void edtF1Change();
    void edtF2Change();

    void tkbLeftFrequencyChange();
    void tkbRightFrequencyChange();
    void cbLockFreqClick();
    void cbChirpClick();
    void timerChirpTimer();
    // Key pressed while btnStart has the focus (Qt key code); not consumed.
    void btnStartKeyDown(int key);

    void btnAddWhiteNoiseClick();
    // The noise stopped without a click (the sound server or the output
    // went away, as `cause` says): the button goes back to off, so the next
    // click starts it again, and the user is told why.
    void WhiteNoiseLost(LossCause cause);

    // Ctrl+S and the background's menu: writes what Start would play now
    // with these settings as a WAV file, where the save dialog says. The
    // limits are read and refused as Start reads and refuses them, with the
    // same warning; the file is what quorvex-render writes for the same
    // settings: a slow sweep whole, a fast sweep in whole passes and the
    // other kinds in chunks covering 10 s. Playing output is not touched. A
    // file that cannot be written is said with the system's reason and
    // leaves nothing behind.
    void SaveAsWav();

    // --- ControlPanel --------------------------------------------------------
    void SetLastMarkerText(const std::string& text) override;
    // Runs the two bar handlers, left first, as a start of manual output does.
    ChannelFrequencies ManualFrequencies() override;
    int LowPowerPosition() const override;

    // --- PlaybackView ------------------------------------------------------
    std::string LowerLimitText() const override;
    std::string UpperLimitText() const override;
    bool OctaveMarkerChecked() const override;
    bool IsControlEnabled(PlaybackControl control) const override;
    void SetControlEnabled(PlaybackControl control, bool enabled) override;
    void SetStartCaption(const std::string& caption) override;
    void SetFnowText(const std::string& text) override;
    void SetFnowVisible(bool visible) override;
    void ShowWarning(const std::string& text) override;
    void CloseWindow() override;

    // --- Controls, as the handlers name them -------------------------------
    QFrame* pnlMain = nullptr;
    ui::Label* Label1 = nullptr;
    ui::Label* Label2 = nullptr;
    ui::Label* lblFnow = nullptr;
    TKvGradient* gradient = nullptr;
    ui::Label* lblLeftAttn = nullptr;
    ui::RadioGroup* gbFrequencyRange = nullptr;
    ui::RadioGroup* grpSweepMode = nullptr;
    ui::RadioGroup* grpSweepSpeed = nullptr;
    ui::Edit* edtF1 = nullptr;
    ui::Edit* edtF2 = nullptr;
    ui::GroupBox* grpOctaveMarkers = nullptr;
    ui::GroupBox* GroupBox1 = nullptr;
    ui::RadioGroup* grpChannels = nullptr;
    ui::GroupBox* grpSetFrequency = nullptr;
    QPushButton* btnStart = nullptr;
    QPushButton* btnExit = nullptr;
    ui::TrackBar* tbLowPower = nullptr;
    ui::GroupBox* gbChirpControl = nullptr;
    QPushButton* btnAddWhiteNoise = nullptr;

    ui::Label* lblLastMarker = nullptr;
    ui::CheckBox* chkOctaveMarker = nullptr;

    ui::Label* Label3 = nullptr;
    ui::Label* lblLeftLevel = nullptr;
    ui::Label* lblRightLevel = nullptr;
    ui::TrackBar* tkbLeftLevel = nullptr;
    ui::TrackBar* tkbRightLevel = nullptr;
    ui::CheckBox* chkLeft = nullptr;
    ui::CheckBox* chkRight = nullptr;
    std::vector<ui::Label*> dBScaleLabels;  // created by FormCreate

    ui::Label* lblFMaxR = nullptr;
    ui::Label* lblFMinR = nullptr;
    ui::Label* lblFMaxL = nullptr;
    ui::Label* lblFMinL = nullptr;
    ui::Label* lblFLeft = nullptr;
    ui::Label* lblFRight = nullptr;
    ui::TrackBar* tkbLeftFrequency = nullptr;
    ui::TrackBar* tkbRightFrequency = nullptr;
    ui::CheckBox* cbLockFreq = nullptr;

    ui::Label* lblHzPerSec = nullptr;
    ui::Label* lblChirpCum = nullptr;
    TKvNumSpin* nsChirp = nullptr;
    ui::CheckBox* cbChirp = nullptr;

    ui::Timer* Timer = nullptr;
    ui::Timer* timerChirp = nullptr;

    // "Save as WAV…", with its shortcut Ctrl+S, and the menu that offers it
    // on the window's background.
    QAction* actSaveAsWav = nullptr;
    QMenu* mnuBackground = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // On the background (the panel and the labels lying on it) the menu
    // with Save as WAV; controls keep their own.
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // device null: play through own_device.
    TfToneGenerator(std::unique_ptr<WaveOutDevice> own_device, WaveOutDevice* device,
                    std::unique_ptr<NoisePlayer> noise, MessageSink messages, HandlerObserver observer);

    // The controls with their stored settings; no handler runs here.
    void CreateControls();
    void SetTabOrder();
    void BindHandlers();
    void CreateSaveCommand();
    void FormCreate();
    void CreateDbScaleLabels();
    void Ran(const char* handler) {
        if (handler_observer_) handler_observer_(handler);
    }
    // A press on a control whose release was taken meanwhile.
    bool StalePress(const QMouseEvent& press) const;
    // A push button's accelerator: clicked at once; true when handled.
    bool ClickAtOnce(QObject* watched, const QShortcutEvent& shortcut);
    // Start's default frame for the focus now in the window.
    void ShowDefaultButton(const QWidget* focus);
    void ShowMessage(const std::string& caption, const std::string& text);
    QWidget* ControlWidget(PlaybackControl control) const;

    std::unique_ptr<WaveOutDevice> own_device_;
    WaveOutDevice& device_;
    MessageSink messages_;
    HandlerObserver handler_observer_;
    // The window is the state's ControlPanel: gen_ keeps only the reference
    // while the window is still being built. Playback is built on gen_ and is
    // the engine's WaveOutSink; it hands itself to the calls that queue, so
    // gen_ needs nothing of it.
    GeneratorState gen_;
    std::unique_ptr<Playback> playback_;
    std::unique_ptr<NoisePlayer> noise_;
    SaveDialog save_dialog_;
    std::string save_folder_;  // where the save dialog opens: the last folder saved to
    // Time stamp of the last press the window system delivered.
    std::uint64_t window_press_time_ = 0;
    bool window_press_ = false;
};

}  // namespace quorvex
