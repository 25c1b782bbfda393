// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What playback needs of the main window: the controls it reads at a start
// and the ones it changes while output runs. The window implements this; tests
// implement it with plain fields. Everything here is called on the
// user-interface thread only.

#include <string>

namespace quorvex {

// The window's controls that playback enables and disables.
enum class PlaybackControl {
    grpChannels,
    grpOctaveMarkers,
    chkOctaveMarker,
    edtF1,
    edtF2,
    gbFrequencyRange,
    grpSweepMode,
    grpSweepSpeed,
    tkbLeftLevel,
    tkbRightLevel,
    lblLeftLevel,
    lblRightLevel,
    chkLeft,
    chkRight,
    lblLastMarker,
};

class PlaybackView {
public:
    // Texts of the limit edits edtF1 and edtF2, and the marker check box.
    virtual std::string LowerLimitText() const = 0;
    virtual std::string UpperLimitText() const = 0;
    virtual bool OctaveMarkerChecked() const = 0;

    virtual bool IsControlEnabled(PlaybackControl control) const = 0;
    virtual void SetControlEnabled(PlaybackControl control, bool enabled) = 0;

    // Caption of btnStart, with '&' marking the accelerator ("&Start", "&STOP").
    virtual void SetStartCaption(const std::string& caption) = 0;
    // lblFnow: the frequency now playing.
    virtual void SetFnowText(const std::string& text) = 0;
    virtual void SetFnowVisible(bool visible) = 0;
    // lblLastMarker's caption; a lone '\r' breaks the line.
    virtual void SetLastMarkerText(const std::string& text) = 0;

    // Modal warning dialog (caption "Warning", one OK button); returns when
    // dismissed. '\r' and "\r\n" break lines.
    virtual void ShowWarning(const std::string& text) = 0;

    // Closes the main window, which ends the program (btnExitClick).
    virtual void CloseWindow() = 0;

protected:
    ~PlaybackView() = default;
};

}  // namespace quorvex
