// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where a command-line tool writes its output, opened the way cp opens a
// destination:
// - "-" is standard output;
// - a symbolic link is followed;
// - a FIFO, a device or a socket is written as a stream, as it is;
// - an existing regular file is truncated and written in place, so it keeps
//   its mode, its owner and its other hard links; a file the user may not
//   write is refused with the system's reason;
// - a new file is written under a temporary name in the same folder and
//   renamed into place only when complete, so a failure never leaves a
//   partial file under the name asked for. The temporary file is removed on
//   every error and when the process is ended by SIGINT, SIGTERM or SIGHUP.
// A file-size limit makes a write fail (EFBIG) instead of ending the process.
//
// One output file at a time per process.

#include <sys/types.h>

#include <cstdio>
#include <memory>
#include <string>

namespace quorvex {

class OutputFile {
public:
    // Opens the target; nullptr with the reason in `error` if it cannot be
    // written ("Permission denied", "No such file or directory", ...).
    static std::unique_ptr<OutputFile> Open(const std::string& path, std::string& error);

    ~OutputFile();  // without a successful Commit, a temporary file is removed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::FILE* stream() const { return stream_; }

    // Whether what was written can be gone back to and rewritten (a regular
    // file not opened for appending); a stream cannot be.
    bool seekable() const { return seekable_; }
    // Rewrites `size` bytes at the place where the output began.
    bool Rewrite(const void* data, std::size_t size);

    // Flushes everything and closes; a new file takes its name now. false
    // with the reason in `error`; the temporary file is then removed.
    bool Commit(std::string& error);

private:
    OutputFile() = default;

    std::FILE* stream_ = nullptr;
    bool owns_stream_ = true;  // standard output is flushed, never closed
    bool seekable_ = false;
    off_t start_ = 0;
    std::string path_;
    std::string temp_;  // empty unless a new file is written under a temporary name
};

}  // namespace quorvex
