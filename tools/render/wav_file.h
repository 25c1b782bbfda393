// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One output written as a WAV file through OutputFile: a new file appears
// only when complete, a failure leaves nothing behind. quorvex-render and the
// window's Save as WAV both write their files here.

#include <string>

#include "engine/wav_render.h"

namespace quorvex {

// Writes the WAV stream of `settings` (RenderWav) to `path`, which OutputFile
// interprets ("-" is standard output). A file gets its real sizes; a stream,
// which cannot be gone back to, the largest ones. True when written;
// otherwise false with the reason in `error`: the system's ("Permission
// denied", "No space left on device"), followed by OutputFile's failure note
// where the old file was partly overwritten.
bool WriteWavFile(const OutputSettings& settings, const OutputLength& length, const std::string& path,
                  std::string& error);

}  // namespace quorvex
