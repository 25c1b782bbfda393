#pragma once
// A host that records what the engine hands to the device and the window,
// for the engine's tests.

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/generator.h"

namespace quorvex::testing_support {

class RecordingHost : public GeneratorHost {
public:
    struct Write {
        const WAVEHDR* header;
        std::vector<audio_sample> samples;  // copied at hand-over
    };

    void waveOutWrite(WAVEHDR& header) override {
        std::vector<audio_sample> samples(header.dwBufferLength / sizeof(audio_sample));
        std::memcpy(samples.data(), header.lpData, samples.size() * sizeof(audio_sample));
        writes.push_back({&header, std::move(samples)});
    }
    void SetLastMarkerText(const std::string& text) override {
        marker_texts.push_back(text);
        marker_at.push_back(writes.size());
    }
    void tkbLeftFrequencyChange() override {
        calls += "L";
        if (left_change) left_change();
    }
    void tkbRightFrequencyChange() override {
        calls += "R";
        if (right_change) right_change();
    }
    int LowPowerPosition() const override { return low_power; }

    std::vector<Write> writes;
    std::vector<std::string> marker_texts;
    std::vector<std::size_t> marker_at;  // index of the write that carried the marker
    std::string calls;                   // order of the handler calls
    std::function<void()> left_change;
    std::function<void()> right_change;
    int low_power = 20;
};

// Points both headers at their buffers with length 0, as the device layer
// does when the device has opened.
inline void ResetHeaders(GeneratorState& state) {
    *state.p_wave_hdr1 = WAVEHDR{};
    state.p_wave_hdr1->lpData = reinterpret_cast<char*>(state.p_buffer1);
    *state.p_wave_hdr2 = WAVEHDR{};
    state.p_wave_hdr2->lpData = reinterpret_cast<char*>(state.p_buffer2);
}

// Fills a table with its own indices, so that each sample written names the
// table entry it came from.
inline void FillRamp(TSineTable& table) {
    for (int i = 0; i < kSineTableLength; ++i) table[i] = static_cast<audio_sample>(i);
}

}  // namespace quorvex::testing_support
