// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the device tests share: the generator's format, noise that no
// silence or rounding could produce by chance, headers over sample vectors,
// and a notification target that notes what arrives and when.

#include <QElapsedTimer>
#include <QObject>
#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "output/wave_device.h"

namespace quorvex::testing_support {

inline WAVEFORMATEX StereoFormat() {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = 44100;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = 44100 * 4;
    return format;
}

// `frames` stereo frames of noise.
inline std::vector<std::int16_t> Noise(std::size_t frames, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> sample(-20000, 20000);
    std::vector<std::int16_t> samples(frames * 2);
    for (auto& s : samples) s = static_cast<std::int16_t>(sample(random));
    return samples;
}

inline WAVEHDR HeaderFor(std::vector<std::int16_t>& samples) {
    WAVEHDR header{};
    header.lpData = reinterpret_cast<char*>(samples.data());
    header.dwBufferLength = static_cast<std::uint32_t>(samples.size() * sizeof(std::int16_t));
    return header;
}

// Notes every notification with the time it arrived.
class Recorder : public QObject {
public:
    struct Note {
        QEvent::Type type;
        WAVEHDR* header;
        LossCause cause;
        qint64 at_ms;
    };
    Recorder() { clock.start(); }
    void customEvent(QEvent* event) override {
        const auto* note = static_cast<WaveOutEvent*>(event);
        notes.push_back({event->type(), note->header(), note->cause(), clock.elapsed()});
    }
    // "open done done close " and the like.
    std::string Types() const {
        std::string types;
        for (const Note& n : notes) types += n.type == MM_WOM_OPEN ? "open " : n.type == MM_WOM_DONE ? "done " : "close ";
        return types;
    }
    int Count(QEvent::Type type) const {
        return static_cast<int>(std::count_if(notes.begin(), notes.end(), [type](const Note& n) { return n.type == type; }));
    }
    QElapsedTimer clock;
    std::vector<Note> notes;
};

}  // namespace quorvex::testing_support
