// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/wave_device.h"

namespace quorvex {

bool WaveFormatSupported(const WAVEFORMATEX& format) {
    const bool shape = format.wFormatTag == WAVE_FORMAT_PCM && format.wBitsPerSample == 16 &&
                       (format.nChannels == 1 || format.nChannels == 2) && format.nSamplesPerSec >= 8000 &&
                       format.nSamplesPerSec <= 192000;
    return shape && format.nBlockAlign == format.nChannels * 2 &&
           format.nAvgBytesPerSec == format.nSamplesPerSec * format.nBlockAlign;
}

}  // namespace quorvex
