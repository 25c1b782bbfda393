// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's Save as WAV: the command with its shortcut and the
// background's menu, the settings Start would play, the name proposed for
// them, and the file written through quorvex-render's writer.

#include <sys/stat.h>

#include <QAction>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QKeySequence>
#include <QMenu>

#include <optional>
#include <string>

#include "controls/kv_gradient.h"
#include "engine/ranges.h"
#include "engine/wav_render.h"
#include "output/start_texts.h"
#include "tools/render/wav_file.h"
#include "ui/uquorvex.h"
#include "ui/widgets.h"

namespace quorvex {

namespace {

// The output a streamed kind other than the slow sweep, or a fast sweep in
// whole passes, is saved for.
constexpr int kSavedSeconds = 10;

// A frequency as a file name shows it: whole hertz, no unit.
std::string Hz(extended f) {
    std::string text = FormatHz(f);
    return text.substr(0, text.find(' '));
}

// A file name that says what the file holds, for example
// "slow-sweep-20-20000Hz-log-markers.wav" or "tone-1000Hz.wav".
std::string ProposedName(const OutputSettings& s) {
    const std::string limits = std::to_string(s.f_min) + "-" + std::to_string(s.f_max) + "Hz-" +
                               (s.mode == modes::linear ? "linear" : "log");
    switch (s.speed) {
    case speeds::fast_smooth: return "fast-smooth-sweep-" + limits + ".wav";
    case speeds::fast_stepped: return "fast-stepped-sweep-" + limits + ".wav";
    case speeds::slow: return "slow-sweep-" + limits + (s.markers ? "-markers" : "") + ".wav";
    case speeds::manual: {
        const ChannelFrequencies f = ManualChannelFrequencies(s);
        const std::string left = Hz(f.left);
        const std::string right = Hz(f.right);
        return "manual-" + left + "Hz" + (right == left ? "" : "-" + right + "Hz") + ".wav";
    }
    case speeds::no_sweep: return "tone-" + std::to_string(s.f_min) + "Hz.wav";
    }
    return "output.wav";
}

}  // namespace

void TfToneGenerator::CreateSaveCommand() {
    actSaveAsWav = new QAction(QStringLiteral("Save as WAV\u2026"), this);
    actSaveAsWav->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    actSaveAsWav->setShortcutContext(Qt::WindowShortcut);
    addAction(actSaveAsWav);
    connect(actSaveAsWav, &QAction::triggered, this, [this] { SaveAsWav(); });
    mnuBackground = new QMenu(this);
    mnuBackground->addAction(actSaveAsWav);
    save_folder_ = QFile::encodeName(QDir::homePath()).toStdString();
}

void TfToneGenerator::contextMenuEvent(QContextMenuEvent* event) {
    const QWidget* under = childAt(event->pos());
    const bool background = !under || under == pnlMain || under == gradient || under == Label1 ||
                            under == Label2 || under == lblFnow || under == lblLeftAttn;
    if (!background) {
        event->ignore();
        return;
    }
    mnuBackground->popup(event->globalPos());
    event->accept();
}

void TfToneGenerator::SaveAsWav() {
    Ran("SaveAsWav");
    // The limits as Start reads them, refused as Start refuses them.
    OutputSettings s;
    s.speed = gen_.speed;
    s.f_min = LowerLimitFromText(LowerLimitText());
    s.f_max = UpperLimitFromText(UpperLimitText());
    if (!LimitsUsable(s.speed, s.f_min, s.f_max)) {
        ShowWarning(UnusableLimitsText(s.speed, s.f_min, s.f_max));
        return;
    }
    s.mode = gen_.log_lin;
    s.range = gen_.range;
    s.left_level = tkbLeftLevel->Position();
    s.right_level = tkbRightLevel->Position();
    s.step = tbLowPower->Position();
    s.left_off = !chkLeft->Checked();
    s.right_off = !chkRight->Checked();
    s.channels = gen_.out_level;
    s.markers = OctaveMarkerChecked();
    // The manual bars as a start reads them (ManualFrequencies): locked, the
    // right bar follows the left one; the chirp's sum is added to the left.
    s.left_bar = tkbLeftFrequency->Position();
    s.right_bar = gen_.locked_frequencies ? s.left_bar : tkbRightFrequency->Position();
    s.left_offset = cbChirp->Checked() ? gen_.FChirpCum : 0.0;
    OutputLength length;
    if (s.speed != speeds::slow) length.seconds = kSavedSeconds;

    const std::string proposed = save_folder_ + (save_folder_.ends_with('/') ? "" : "/") + ProposedName(s);
    std::string path;
    if (save_dialog_) {
        path = save_dialog_(this, proposed);
    } else {
        const QString chosen =
            QFileDialog::getSaveFileName(this, QStringLiteral("Save as WAV"), QFile::decodeName(proposed.c_str()),
                                         QStringLiteral("WAV files (*.wav);;All files (*)"));
        path = QFile::encodeName(chosen).toStdString();
    }
    if (path.empty()) return;
    if (const std::size_t slash = path.rfind('/'); slash != std::string::npos) {
        save_folder_ = slash == 0 ? "/" : path.substr(0, slash);
    }

    // A pipe or a socket would be written as a stream, the window waiting
    // for a reader meanwhile and the output that plays starving.
    std::string error;
    struct stat target {};
    if (stat(path.c_str(), &target) == 0 && (S_ISFIFO(target.st_mode) || S_ISSOCK(target.st_mode))) {
        error = "It is a pipe or a socket, not a file";
    } else {
        WriteWavFile(s, length, path, error);
    }
    if (!error.empty()) ShowWarning("Could not save " + path + ":\r" + error + ".");
}

}  // namespace quorvex
