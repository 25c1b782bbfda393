// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Comparing a recording of the null sink's monitor with what the engine
// renders, for the tests and the soak benchmark: where the render starts in
// the recording, then frame by frame, silence the server inserted (the
// stream ran dry) told apart from frames that differ.

#include <QProcess>
#include <algorithm>
#include <csignal>
#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quorvex::testing_support {

struct RecordingCheck {
    bool found = false;               // the render's opening is in the recording
    std::size_t matched = 0;          // frames of the render found in order
    std::size_t inserted = 0;         // silent frames in the recording that the render does not have
    std::size_t differing = 0;        // frames that are neither
    std::size_t dropped = 0;          // frames of the render the recording skips
    std::size_t first_fault = 0;      // render frame of the first fault, if any
    std::size_t missing = 0;          // frames of the render after the recording's end
    std::size_t gaps = 0;             // stretches of inserted silence
    bool exact() const { return found && inserted == 0 && differing == 0 && dropped == 0 && missing == 0; }
};

// `render` and `recording` are interleaved stereo samples. The render is
// located by its first 2048 frames after any leading silence; from there the
// two are walked together, a silent recording frame where the render has
// sound counting as inserted.
inline RecordingCheck CompareWithRender(const std::vector<std::int16_t>& recording,
                                        const std::vector<std::int16_t>& render) {
    RecordingCheck check;
    const std::size_t render_frames = render.size() / 2;
    const std::size_t recorded_frames = recording.size() / 2;
    const auto silent = [](const std::vector<std::int16_t>& s, std::size_t frame) {
        return s[2 * frame] == 0 && s[2 * frame + 1] == 0;
    };
    std::size_t lead = 0;
    while (lead < render_frames && silent(render, lead)) ++lead;
    const std::size_t probe = std::min<std::size_t>(2048, render_frames - lead);
    if (probe == 0) return check;
    const auto begin = render.begin() + static_cast<std::ptrdiff_t>(2 * lead);
    const auto at = std::search(recording.begin(), recording.end(), begin, begin + static_cast<std::ptrdiff_t>(2 * probe));
    if (at == recording.end() || (at - recording.begin()) % 2 != 0) return check;
    const std::size_t start = static_cast<std::size_t>(at - recording.begin()) / 2;
    if (start < lead) return check;
    check.found = true;

    std::size_t i = 0;                // render frame
    std::size_t j = start - lead;     // recording frame
    bool in_gap = false;
    while (i < render_frames && j < recorded_frames) {
        if (recording[2 * j] == render[2 * i] && recording[2 * j + 1] == render[2 * i + 1]) {
            ++check.matched;
            ++i;
            ++j;
            in_gap = false;
        } else if (silent(recording, j)) {
            if (check.inserted + check.differing + check.dropped == 0) check.first_fault = i;
            ++check.inserted;
            check.gaps += in_gap ? 0 : 1;
            in_gap = true;
            ++j;
        } else {
            if (check.inserted + check.differing + check.dropped == 0) check.first_fault = i;
            in_gap = false;
            // Frames lost on the way (by the recorder, say) shift the rest:
            // find where the recording goes on in the render.
            const std::size_t window = std::min<std::size_t>(256, recorded_frames - j);
            const auto from = recording.begin() + static_cast<std::ptrdiff_t>(2 * j);
            const auto found_at = std::search(render.begin() + static_cast<std::ptrdiff_t>(2 * i), render.end(), from,
                                              from + static_cast<std::ptrdiff_t>(2 * window));
            if (window >= 64 && found_at != render.end() && (found_at - render.begin()) % 2 == 0) {
                const std::size_t resume = static_cast<std::size_t>(found_at - render.begin()) / 2;
                check.dropped += resume - i;
                i = resume;
            } else {
                ++check.differing;
                ++i;
                ++j;
            }
        }
    }
    check.missing = render_frames - i;
    return check;
}

// Other work at the same priority while sound plays: `workers` shells that
// each write pseudo-random data through a compressor into a file under
// `dir`, sync it and start over (CPU, memory and disk traffic, as a build
// makes). Each runs in a process group of its own, ended by its id.
class BackgroundLoad {
public:
    BackgroundLoad(const QString& dir, int workers) {
        for (int k = 0; k < workers; ++k) {
            const QString file = dir + "/load" + QString::number(k);
            auto* shell = new QProcess;
            shell->setChildProcessModifier([] { ::setpgid(0, 0); });
            shell->start("sh", {"-c", "while :; do head -c 8M /dev/urandom | gzip -1 > '" + file +
                                          "'; sync '" + file + "'; sort '" + file + "' > /dev/null; done"});
            shell->waitForStarted(2000);
            shells_.push_back(shell);
        }
    }
    ~BackgroundLoad() { Stop(); }
    BackgroundLoad(const BackgroundLoad&) = delete;
    BackgroundLoad& operator=(const BackgroundLoad&) = delete;

    void Stop() {
        for (QProcess* shell : shells_) {
            if (shell->processId() > 0) ::kill(-static_cast<pid_t>(shell->processId()), SIGKILL);
            shell->waitForFinished(3000);
            delete shell;
        }
        shells_.clear();
    }

private:
    std::vector<QProcess*> shells_;
};

}  // namespace quorvex::testing_support
