// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A control panel and device sink in one, recording what the engine hands to
// either, for the engine's tests.

#include <cstring>
#include <string>
#include <vector>

#include "engine/generator.h"

namespace quorvex::testing_support {

class RecordingHost : public ControlPanel, public WaveOutSink {
public:
    struct Write {
        const WAVEHDR* header;
        std::vector<audio_sample> samples;  // copied at hand-over
    };

    void waveOutPrepareHeader(WAVEHDR& header) override {
        sink_calls += "P ";
        prepared.push_back(&header);
    }
    void waveOutWrite(WAVEHDR& header) override {
        sink_calls += "W ";
        std::vector<audio_sample> samples(header.dwBufferLength / sizeof(audio_sample));
        std::memcpy(samples.data(), header.lpData, samples.size() * sizeof(audio_sample));
        writes.push_back({&header, std::move(samples)});
    }
    void SetLastMarkerText(const std::string& text) override {
        marker_texts.push_back(text);
        marker_at.push_back(writes.size());
    }
    ChannelFrequencies ManualFrequencies() override {
        ++manual_asks;
        return manual;
    }
    int LowPowerPosition() const override { return low_power; }

    std::vector<Write> writes;
    std::vector<const WAVEHDR*> prepared;
    std::string sink_calls;  // "P " per prepared header, "W " per write, in order
    std::vector<std::string> marker_texts;
    std::vector<std::size_t> marker_at;  // index of the write that carried the marker
    ChannelFrequencies manual{1000, 1000};  // what the panel answers
    int manual_asks = 0;
    int low_power = 20;
};

// Fills a table with its own indices, so that each sample written names the
// table entry it came from.
inline void FillRamp(TSineTable& table) {
    for (int i = 0; i < kSineTableLength; ++i) table[i] = static_cast<audio_sample>(i);
}

}  // namespace quorvex::testing_support
