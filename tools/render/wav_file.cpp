// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/render/wav_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "tools/render/output_file.h"

namespace quorvex {

bool WriteWavFile(const OutputSettings& settings, const OutputLength& length, const std::string& path,
                  std::string& error) {
    error.clear();
    const std::unique_ptr<OutputFile> target = OutputFile::Open(path, error);
    if (!target) return false;
    std::FILE* out = target->stream();
    int write_errno = 0;
    const ByteSink sink = [&](const void* data, std::size_t size) {
        if (std::fwrite(data, 1, size, out) == size) return true;
        write_errno = errno;
        return false;
    };
    // A file's sizes are filled in at the end. A stream cannot be gone back
    // to: it carries the largest sizes, the convention for a WAV stream of
    // unknown length, and readers take the data to its end.
    const RenderResult result = RenderWav(settings, length, target->seekable() ? 0 : kMaxWavDataBytes, sink);
    switch (result.status) {
    case RenderResult::Status::no_memory: error = "out of memory"; break;
    case RenderResult::Status::cannot_prepare: error = "the engine could not prepare this output"; break;
    case RenderResult::Status::sink_failed: error = std::strerror(write_errno); break;
    case RenderResult::Status::written:
        if (std::ferror(out)) {
            error = std::strerror(errno);
        } else if (result.data_bytes > kMaxWavDataBytes) {
            error = "more than 4 GiB of samples";
        } else if (target->seekable() && !target->Rewrite(result.header.data(), result.header.size())) {
            error = std::strerror(errno);
        }
        break;
    }
    if (error.empty() && target->Commit(error)) return true;
    error += target->FailureNote();
    return false;
}

}  // namespace quorvex
