// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Comparing a recording of the null sink's monitor with what the engine
// renders, for the tests and the soak benchmark: where the render starts in
// the recording, then frame by frame (or one channel's samples), silence the
// server inserted (the stream ran dry) told apart from frames that differ.

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
    // Whether every fault is one a busy server makes by itself: silence in
    // place of frames (no more frames skipped than silence inserted), none
    // changed, none missing at the end. A client that overwrites what it
    // wrote skips frames without silence.
    bool only_server_faults() const { return found && differing == 0 && missing == 0 && dropped <= inserted; }
};

namespace detail {

// Walks `recording` against `render`, frame by frame (a Frame of 0 is
// silence): the render is located by its first 2048 frames after any
// leading silence; from there a silent recording frame where the render has
// sound counts as inserted, and a recording that goes on further along the
// render skips (drops) the frames between.
template <typename Frame>
RecordingCheck Walk(const std::vector<Frame>& recording, const std::vector<Frame>& render) {
    RecordingCheck check;
    std::size_t lead = 0;
    while (lead < render.size() && render[lead] == 0) ++lead;
    const std::size_t probe = std::min<std::size_t>(2048, render.size() - lead);
    if (probe == 0) return check;
    const auto begin = render.begin() + static_cast<std::ptrdiff_t>(lead);
    const auto at = std::search(recording.begin(), recording.end(), begin, begin + static_cast<std::ptrdiff_t>(probe));
    if (at == recording.end() || static_cast<std::size_t>(at - recording.begin()) < lead) return check;
    check.found = true;

    std::size_t i = 0;                                                     // render frame
    std::size_t j = static_cast<std::size_t>(at - recording.begin()) - lead;  // recording frame
    bool in_gap = false;
    const auto fault = [&] {
        if (check.inserted + check.differing + check.dropped == 0) check.first_fault = i;
    };
    while (i < render.size() && j < recording.size()) {
        if (recording[j] == render[i]) {
            ++check.matched;
            ++i;
            ++j;
            in_gap = false;
        } else if (recording[j] == 0) {
            fault();
            ++check.inserted;
            check.gaps += in_gap ? 0 : 1;
            in_gap = true;
            ++j;
        } else {
            fault();
            in_gap = false;
            // Frames lost on the way (by the recorder, say) shift the rest:
            // find where the recording goes on in the render.
            const std::size_t window = std::min<std::size_t>(256, recording.size() - j);
            const auto from = recording.begin() + static_cast<std::ptrdiff_t>(j);
            const auto found_at = std::search(render.begin() + static_cast<std::ptrdiff_t>(i), render.end(), from,
                                              from + static_cast<std::ptrdiff_t>(window));
            if (window >= 64 && found_at != render.end()) {
                const std::size_t resume = static_cast<std::size_t>(found_at - render.begin());
                check.dropped += resume - i;
                i = resume;
            } else {
                ++check.differing;
                ++i;
                ++j;
            }
        }
    }
    check.missing = render.size() - i;
    return check;
}

}  // namespace detail

// `render` and `recording` are interleaved stereo samples, compared frame
// by frame.
inline RecordingCheck CompareWithRender(const std::vector<std::int16_t>& recording,
                                        const std::vector<std::int16_t>& render) {
    const auto frames = [](const std::vector<std::int16_t>& samples) {
        std::vector<std::uint32_t> out(samples.size() / 2);
        for (std::size_t f = 0; f < out.size(); ++f) {
            out[f] = static_cast<std::uint16_t>(samples[2 * f]) |
                     static_cast<std::uint32_t>(static_cast<std::uint16_t>(samples[2 * f + 1])) << 16;
        }
        return out;
    };
    return detail::Walk(frames(recording), frames(render));
}

// The same for one channel (0 left, 1 right) on its own. PipeWire keeps each
// channel in a buffer of its own, and under load has been seen to miss a
// cycle in one channel and not the other, or to play one channel's cycle a
// cycle late: each channel alone is then still the render with silence in
// it, while the frames as a whole differ. A client writes whole frames, so
// what it does wrong (an overwrite, a changed frame) shows in every channel.
inline RecordingCheck CompareChannelWithRender(const std::vector<std::int16_t>& recording,
                                               const std::vector<std::int16_t>& render, int channel) {
    const auto samples = [channel](const std::vector<std::int16_t>& interleaved) {
        std::vector<std::int16_t> out(interleaved.size() / 2);
        for (std::size_t f = 0; f < out.size(); ++f) out[f] = interleaved[2 * f + static_cast<std::size_t>(channel)];
        return out;
    };
    return detail::Walk(samples(recording), samples(render));
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
