// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where a command-line tool writes its output:
// - "-" is standard output;
// - a symbolic link is followed;
// - a FIFO, a device or a socket is written as a stream, as it is;
// - an existing regular file is replaced only once the new contents are
//   complete, so a failure leaves it as it was, when a new file can carry
//   everything the user set on it: it has a single link, and the new file
//   in the same folder takes its owner, group, mode and extended attributes
//   (ACLs among them);
// - any other existing regular file (hard links, another owner, a folder
//   where no file can be made) is emptied and written in place, keeping
//   its links, mode and owner; after a failure FailureNote says that the
//   old contents are lost;
// - a file the user may not write is refused with the system's reason;
// - a new file gets its name only when complete.
// The new contents go into a file without a name (O_TMPFILE), so that
// nothing is left behind even when the process is killed; where the file
// system has no such files, into a hidden temporary file in the same
// folder, removed on every error and when the process is ended by SIGINT,
// SIGTERM or SIGHUP.
// A file-size limit makes a write fail (EFBIG) instead of ending the process.
//
// One output file at a time per process.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>
#include <memory>
#include <string>

namespace quorvex {

class OutputFile {
public:
    // How the new contents are kept until they are complete: Unnamed as
    // described above (Named where that is not supported); Named always
    // uses a hidden temporary file.
    enum class Temporary { Unnamed, Named };

    // Opens the target; nullptr with the reason in `error` if it cannot be
    // written ("Permission denied", "No such file or directory", ...).
    static std::unique_ptr<OutputFile> Open(const std::string& path, std::string& error,
                                            Temporary temporary = Temporary::Unnamed);

    ~OutputFile();  // without a successful Commit, the new contents are dropped
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::FILE* stream() const { return stream_; }

    // Whether what was written can be gone back to and rewritten (a regular
    // file not opened for appending); a stream cannot be.
    bool seekable() const { return seekable_; }
    // Rewrites `size` bytes at the place where the output began.
    bool Rewrite(const void* data, std::size_t size);

    // Flushes everything and closes; the new contents take the target's
    // name now. false with the reason in `error`; the new contents are then
    // dropped.
    bool Commit(std::string& error);

    // To add to the message of a failed output: "; the old file was partly
    // overwritten" for a file written in place, otherwise empty.
    std::string FailureNote() const;

    // Whether the new contents are in a file without a name (tests).
    bool unnamed() const { return unnamed_; }

private:
    enum class Kind {
        stream,    // standard output, a FIFO, a device: written as it comes
        in_place,  // an existing file, emptied and written
        fresh,     // a new file, named when complete
        replacing, // an existing file, replaced when complete
    };

    OutputFile() = default;
    // A file for the new contents in folder_, unnamed or under a hidden
    // temporary name (temp_); -1 with the reason in `error`.
    int OpenTemporary(Temporary temporary, std::string& error);
    // Closes the temporary file and removes its name, if it has one.
    void DropTemporary(int fd);
    // For the regular file open as `fd` (described by `old`): when a new
    // file can carry all the user set on it, swaps `fd` for that new file
    // and returns true; otherwise false, with nothing changed.
    bool PrepareReplacement(int& fd, const struct stat& old, Temporary temporary);
    // Links the unnamed file: at its place when new, at a temporary name
    // beside the file it replaces.
    bool Name(std::string& error);

    std::FILE* stream_ = nullptr;
    bool owns_stream_ = true;  // standard output is flushed, never closed
    bool seekable_ = false;
    off_t start_ = 0;
    Kind kind_ = Kind::stream;
    bool unnamed_ = false;
    std::string path_;    // where the contents end up: for a replaced file, the file itself behind any links
    std::string folder_;  // of path_, with its slash; empty for the current folder
    std::string name_;    // the last part of path_
    std::string temp_;    // the temporary file's name while it has one
};

}  // namespace quorvex
