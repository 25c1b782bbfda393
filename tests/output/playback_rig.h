// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A playback wired up as the main window wires it, with the window's
// controls replaced by plain fields, for tests on any wave device.

#include <QCoreApplication>
#include <QObject>
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "engine/generator.h"
#include "output/playback.h"

namespace quorvex::testing_support {

class FakeView : public PlaybackView {
public:
    std::string LowerLimitText() const override { return lower; }
    std::string UpperLimitText() const override { return upper; }
    bool OctaveMarkerChecked() const override { return marker_checked; }
    bool IsControlEnabled(PlaybackControl control) const override {
        const auto it = enabled.find(control);
        return it == enabled.end() || it->second;
    }
    void SetControlEnabled(PlaybackControl control, bool on) override { enabled[control] = on; }
    void SetStartCaption(const std::string& text) override { caption = text; }
    void SetFnowText(const std::string& text) override { fnow_texts.push_back(text); }
    void SetFnowVisible(bool visible) override { fnow_visible = visible; }
    void SetLastMarkerText(const std::string& text) override { last_marker = text; }
    void ShowWarning(const std::string& text) override { warnings.push_back(text); }
    void CloseWindow() override { ++close_window_calls; }

    bool AnyControlDisabled() const {
        for (const auto& [control, on] : enabled) {
            if (!on) return true;
        }
        return false;
    }

    std::string lower = "20";
    std::string upper = "20000";
    bool marker_checked = false;
    std::map<PlaybackControl, bool> enabled;  // absent: enabled
    std::string caption = "&Start";
    std::vector<std::string> fnow_texts;
    bool fnow_visible = false;
    std::string last_marker;
    std::vector<std::string> warnings;
    int close_window_calls = 0;
};

// Records the device notifications that reach a playback, in order, and
// the state each one found it in.
class NotificationLog : public QObject {
public:
    struct Arrival {
        const char* notification;
        PlaybackState state;
    };
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        const char* name = type == MM_WOM_OPEN ? "open" : type == MM_WOM_DONE ? "done" : type == MM_WOM_CLOSE ? "close" : nullptr;
        if (name) {
            seen += std::string(name) + ' ';
            arrivals.push_back({name, static_cast<Playback*>(watched)->state()});
        }
        return QObject::eventFilter(watched, event);
    }
    std::string seen;
    std::vector<Arrival> arrivals;
};

// Generator, view and playback over `device`, with full-scale tables so that
// every sample played is easy to tell from silence. The rig is the window's
// side of the engine, as the window is: it owns the state, which takes it at
// construction, and Playback is the engine's sink.
struct PlaybackRig final : ControlPanel {
    explicit PlaybackRig(WaveOutDevice& device) : playback(gen, view, device) {
        gen.left_amplitude = 0.5L;
        gen.right_amplitude = 0.25L;
        playback.installEventFilter(&log);
    }

    // Delivers every notification posted so far, and those their handlers
    // raise in turn.
    void Deliver() {
        std::size_t seen = 0;
        do {
            seen = log.seen.size();
            QCoreApplication::sendPostedEvents();
        } while (log.seen.size() != seen);
    }

    void SetLastMarkerText(const std::string& text) override { view.SetLastMarkerText(text); }
    ChannelFrequencies ManualFrequencies() override { return {manual_frequency, manual_frequency}; }
    int LowPowerPosition() const override { return 20; }

    extended manual_frequency = 1000;
    GeneratorState gen{*this};
    FakeView view;
    Playback playback;
    NotificationLog log;
};

// What the engine renders for these settings, without any device: the
// looping pass once, or the first `chunks` streamed chunks in order, each as
// the start and the refills hand them over.
inline std::vector<audio_sample> EngineRender(const GeneratorState& settings, int chunks) {
    struct Copying final : ControlPanel, WaveOutSink {
        void waveOutPrepareHeader(WAVEHDR&) override {}
        void waveOutWrite(WAVEHDR& h) override {
            const auto* samples = reinterpret_cast<const audio_sample*>(h.lpData);
            out.insert(out.end(), samples, samples + h.dwBufferLength / sizeof(audio_sample));
        }
        void SetLastMarkerText(const std::string&) override {}
        ChannelFrequencies ManualFrequencies() override { return {frequency, frequency}; }
        int LowPowerPosition() const override { return 20; }
        std::vector<audio_sample> out;
        extended frequency = 1000;
        GeneratorState gen{*this};
    } c;
    GeneratorState& gen = c.gen;
    gen.speed = settings.speed;
    gen.log_lin = settings.log_lin;
    gen.f_min = settings.f_min;
    gen.f_max = settings.f_max;
    gen.do_markers = settings.do_markers;
    gen.left_amplitude = settings.left_amplitude;
    gen.right_amplitude = settings.right_amplitude;
    gen.out_level = settings.out_level;
    if (!gen.QueueFirstBuffers(c) || IsLooping(gen.speed)) return c.out;
    for (int k = 2; k < chunks; ++k) gen.QueueChunk(k % 2 == 0 ? *gen.p_wave_hdr1 : *gen.p_wave_hdr2, c);
    const std::size_t chunk_samples = gen.p_wave_hdr1->dwBufferLength / sizeof(audio_sample);
    c.out.resize(std::min(c.out.size(), chunk_samples * static_cast<std::size_t>(std::max(chunks, 0))));
    return c.out;
}

}  // namespace quorvex::testing_support
