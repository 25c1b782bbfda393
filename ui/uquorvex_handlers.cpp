// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's handlers: levels and channels, range, mode and speed,
// the manual frequency bars with lock and chirp, and the white-noise button.

#include <QLocale>
#include <QPushButton>

#include <array>
#include <string_view>

#include "controls/kv_num_spin.h"
#include "engine/ranges.h"
#include "output/noise_player.h"
#include "output/start_texts.h"
#include "output/playback.h"
#include "ui/number_format.h"
#include "ui/uquorvex.h"
#include "ui/widgets.h"

namespace quorvex {

namespace {

struct SpeedItem {
    std::string_view caption;
    speeds speed;
};

constexpr std::array<SpeedItem, 5> kSpeeds{{
    {"Fast (smooth)", speeds::fast_smooth},
    {"Fast (stepped)", speeds::fast_stepped},
    {"Slow", speeds::slow},
    {"Manual", speeds::manual},
    {"No sweep", speeds::no_sweep},
}};

// The captions are the program's own ASCII words: lowered by ASCII rules,
// not by the user's locale (Turkish lowers 'I' to a dotless i).
std::string LowerCase(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

}  // namespace

// --- Levels and channels -------------------------------------------------------

void TfToneGenerator::UpdateLevels() {
    Ran("UpdateLevels");
    gen_.left_amplitude = 0;
    gen_.right_amplitude = 0;
    if (chkLeft->Checked()) {
        gen_.left_amplitude = gen_.LevelToAmplitude(tkbLeftLevel->Position());
        lblLeftAttn->SetCaption("Left Attn: " + std::to_string(tbLowPower->Position() - 20) + " dB");
        lblLeftLevel->SetCaption(std::string("-").append(std::to_string(tkbLeftLevel->Position())));
    } else {
        lblLeftLevel->SetCaption("Off");
    }
    if (chkRight->Checked()) {
        gen_.right_amplitude = gen_.LevelToAmplitude(tkbRightLevel->Position());
        lblRightLevel->SetCaption(std::string("-").append(std::to_string(tkbRightLevel->Position())));
    } else {
        lblRightLevel->SetCaption("Off");
    }
    // Armed, not restarted: a series of changes reaches the sound through
    // one tick, one interval after its first change.
    Timer->SetEnabled(true);
}

void TfToneGenerator::tkbLeftLevelChange() {
    Ran("tkbLeftLevelChange");
    // The follower's handler finds equal positions, which ends the mirroring.
    if (gen_.out_level != out_levels::independent && tkbRightLevel->Position() != tkbLeftLevel->Position()) {
        tkbRightLevel->SetPosition(tkbLeftLevel->Position());
    }
    UpdateLevels();
}

void TfToneGenerator::tkbRightLevelChange() {
    Ran("tkbRightLevelChange");
    if (gen_.out_level != out_levels::independent && tkbLeftLevel->Position() != tkbRightLevel->Position()) {
        tkbLeftLevel->SetPosition(tkbRightLevel->Position());
    }
    UpdateLevels();
}

void TfToneGenerator::chkLeftClick() {
    Ran("chkLeftClick");
    UpdateLevels();
}

void TfToneGenerator::grpChannelsClick() {
    Ran("grpChannelsClick");
    switch (grpChannels->ItemIndex()) {
    case 0: gen_.out_level = out_levels::phase_normal; break;
    case 1: gen_.out_level = out_levels::phase_reverse; break;
    case 2: gen_.out_level = out_levels::independent; break;
    default: break;
    }
    gen_.left_sine_table_valid = false;
    gen_.right_sine_table_valid = false;
}

void TfToneGenerator::TimerTimer() {
    Ran("TimerTimer");
    Timer->SetEnabled(false);
    lblFnow->SetCaption("");
    const bool left_differs = gen_.present_left_amplitude != gen_.left_amplitude;
    const bool right_differs = gen_.present_right_amplitude != gen_.right_amplitude;
    if (left_differs) gen_.left_sine_table_valid = false;
    if (right_differs) gen_.right_sine_table_valid = false;
    if (left_differs || right_differs) playback_->RestartIfRunning();
}

// --- Range, mode and speed ------------------------------------------------------

void TfToneGenerator::gbFrequencyRangeClick() {
    Ran("gbFrequencyRangeClick");
    if (const FrequencyRange* chosen = RangeByCaption(gbFrequencyRange->SelectedCaption())) {
        gen_.range = chosen->range;
    }
    const FrequencyRange& limits = RangeOf(gen_.range);
    gen_.f_min = limits.f_min;
    gen_.f_max = limits.f_max;
    edtF1->SetText(std::to_string(gen_.f_min));
    edtF2->SetText(std::to_string(gen_.f_max));
    lblFnow->SetCaption(std::string(limits.status));
    playback_->RestartIfRunning();
}

void TfToneGenerator::grpSweepModeClick() {
    Ran("grpSweepModeClick");
    const std::string caption = grpSweepMode->SelectedCaption();
    if (caption == "Linear") gen_.log_lin = modes::linear;
    else if (caption == "Log") gen_.log_lin = modes::logarithmic;
    lblFnow->SetCaption(LowerCase(caption));
    playback_->RestartIfRunning();
}

void TfToneGenerator::grpSweepSpeedClick() {
    Ran("grpSweepSpeedClick");
    const std::string caption = grpSweepSpeed->SelectedCaption();
    for (const SpeedItem& item : kSpeeds) {
        if (caption == item.caption) gen_.speed = item.speed;
    }
    edtF1->setVisible(true);
    edtF2->setVisible(gen_.speed != speeds::no_sweep);
    const bool slow = gen_.speed == speeds::slow;
    chkOctaveMarker->setEnabled(slow);
    lblLastMarker->setEnabled(slow);
    lblFLeft->SetCaption(edtF1->Text());
    lblFRight->SetCaption(edtF1->Text());

    const bool manual = gen_.speed == speeds::manual;
    if (manual) {
        // Max before min: the position stays inside the new range, so
        // neither write moves it.
        tkbLeftFrequency->SetMax(gen_.slow_sweep_chunks);
        tkbLeftFrequency->SetMin(1);
        tkbLeftFrequency->SetLineSize(1);
        tkbLeftFrequency->SetPageSize(10);
        tkbRightFrequency->SetMax(tkbLeftFrequency->Max());
        tkbRightFrequency->SetMin(1);
        tkbRightFrequency->SetLineSize(1);
        tkbRightFrequency->SetPageSize(10);
    }
    for (QWidget* w : std::initializer_list<QWidget*>{tkbLeftFrequency, tkbRightFrequency, cbLockFreq, lblFMinL,
                                                      lblFMinR, lblFMaxL, lblFMaxR, lblFLeft, lblFRight}) {
        w->setEnabled(manual);
    }

    tkbLeftFrequency->SetPosition(tkbLeftFrequency->Max());
    tkbRightFrequency->SetPosition(tkbRightFrequency->Max());
    lblFnow->SetCaption(LowerCase(caption));
    gen_.direction = directions::holding;
    playback_->RestartIfRunning();
}

void TfToneGenerator::edtF1Change() {
    Ran("edtF1Change");
    lblFMinR->SetCaption(edtF1->Text());
    lblFMinL->SetCaption(edtF1->Text());
}

void TfToneGenerator::edtF2Change() {
    Ran("edtF2Change");
    lblFMaxR->SetCaption(edtF2->Text());
    lblFMaxL->SetCaption(edtF2->Text());
}

// --- Manual frequency, lock and chirp ---------------------------------------------

void TfToneGenerator::tkbLeftFrequencyChange() {
    Ran("tkbLeftFrequencyChange");
    gen_.fl = BarFrequency(gen_.f_min, gen_.f_max, gen_.log_lin, tkbLeftFrequency->Max(), tkbLeftFrequency->Min(),
                           tkbLeftFrequency->Position());
    if (cbChirp->Checked()) gen_.fl = gen_.fl + gen_.FChirpCum;
    lblFLeft->SetCaption(FormatHz(gen_.fl));
    // The right bar's handler finds equal positions and does not move this
    // bar back; then both channels play this bar's frequency, offset included.
    if (gen_.locked_frequencies && tkbRightFrequency->Position() != tkbLeftFrequency->Position()) {
        tkbRightFrequency->SetPosition(tkbLeftFrequency->Position());
        gen_.fr = gen_.fl;
    }
}

void TfToneGenerator::tkbRightFrequencyChange() {
    Ran("tkbRightFrequencyChange");
    gen_.fr = BarFrequency(gen_.f_min, gen_.f_max, gen_.log_lin, tkbRightFrequency->Max(),
                           tkbRightFrequency->Min(), tkbRightFrequency->Position());
    lblFRight->SetCaption(FormatHz(gen_.fr));
    if (gen_.locked_frequencies && tkbLeftFrequency->Position() != tkbRightFrequency->Position()) {
        tkbLeftFrequency->SetPosition(tkbRightFrequency->Position());
        gen_.fl = gen_.fr;
    }
}

void TfToneGenerator::cbLockFreqClick() {
    Ran("cbLockFreqClick");
    gen_.locked_frequencies = cbLockFreq->Checked();
}

void TfToneGenerator::cbChirpClick() {
    Ran("cbChirpClick");
    timerChirp->SetEnabled(cbChirp->Checked());
    if (!cbChirp->Checked()) gen_.FChirpCum = 0;
}

void TfToneGenerator::timerChirpTimer() {
    Ran("timerChirpTimer");
    const extended sum = static_cast<extended>(gen_.FChirpCum) + static_cast<extended>(nsChirp->Value());
    gen_.FChirpCum = static_cast<double>(sum);
    const std::string separator = QLocale().decimalPoint().toStdString();
    lblChirpCum->SetCaption("Cum:" + ui::FormatGeneral4(gen_.FChirpCum, separator));
    tkbLeftFrequencyChange();
}

void TfToneGenerator::btnStartKeyDown(int key) {
    if (key == Qt::Key_PageUp) gen_.direction = directions::up;
    else if (key == Qt::Key_PageDown) gen_.direction = directions::down;
}

// --- White noise ----------------------------------------------------------------

void TfToneGenerator::btnAddWhiteNoiseClick() {
    Ran("btnAddWhiteNoiseClick");
    if (gen_.WhiteRunning) {
        noise_->Stop();
        btnAddWhiteNoise->setText(QStringLiteral("White Noise OFF"));
        gen_.WhiteRunning = false;
    } else {
        // A device that cannot play (no sound server, or one that does not
        // answer) is said, and the button keeps naming the state there is.
        // A missing resource still switches silently.
        if (!noise_->PlayWaveResource("WhiteNoise") && noise_->last_open_result() != MMSYSERR_NOERROR) {
            ShowWarning(NoiseFailureText(noise_->last_open_result()));
            return;
        }
        btnAddWhiteNoise->setText(QStringLiteral("White Noise ON"));
        gen_.WhiteRunning = true;
    }
}

void TfToneGenerator::WhiteNoiseLost(LossCause cause) {
    btnAddWhiteNoise->setText(QStringLiteral("White Noise OFF"));
    gen_.WhiteRunning = false;
    ShowWarning(NoiseLostText(cause));
}

}  // namespace quorvex
