// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/render/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace quorvex {
namespace {

// The temporary file a signal handler removes: a plain buffer, since the
// handler may only call async-signal-safe functions. Written only while the
// handled signals are blocked.
char g_temp_path[PATH_MAX];
volatile sig_atomic_t g_has_temp = 0;

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void RemoveTempAndEnd(int sig) {
    if (g_has_temp) unlink(g_temp_path);
    // Ends the process as the signal would have, so the caller sees it.
    signal(sig, SIG_DFL);
    raise(sig);
}

void InstallHandlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    for (int sig : kEndingSignals) {
        struct sigaction old {};
        sigaction(sig, nullptr, &old);
        if (old.sa_handler == SIG_IGN) continue;  // nohup and the like keep their choice
        struct sigaction sa {};
        sa.sa_handler = RemoveTempAndEnd;
        sigemptyset(&sa.sa_mask);
        sigaction(sig, &sa, nullptr);
    }
    // Past a file-size limit the write fails with EFBIG and is reported like
    // any other write error, temporary file removed, instead of the process
    // being ended with the file left behind.
    signal(SIGXFSZ, SIG_IGN);
}

// Holds the ending signals off for its lifetime, so the handler never sees
// a half-recorded temporary name.
class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t set;
        sigemptyset(&set);
        for (int sig : kEndingSignals) sigaddset(&set, sig);
        sigprocmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalsHeld() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t old_;
};

// Places the new file under its own name, never over a file that appeared
// there meanwhile; a file system without that guarantee gets a plain rename.
int RenameNoReplace(const char* from, const char* to) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    return std::rename(from, to);
}

}  // namespace

std::unique_ptr<OutputFile> OutputFile::Open(const std::string& path, std::string& error) {
    InstallHandlers();
    std::unique_ptr<OutputFile> file(new OutputFile);
    file->path_ = path;
    struct stat st {};

    if (path == "-") {
        if (fstat(STDOUT_FILENO, &st) != 0) {
            error = std::strerror(errno);
            return nullptr;
        }
        file->stream_ = stdout;
        file->owns_stream_ = false;
        // Redirected to a regular file: the header can still be rewritten,
        // where this output began, unless every write goes to the end.
        const int flags = fcntl(STDOUT_FILENO, F_GETFL);
        if (S_ISREG(st.st_mode) && flags >= 0 && !(flags & O_APPEND)) {
            file->start_ = lseek(STDOUT_FILENO, 0, SEEK_CUR);
            file->seekable_ = file->start_ >= 0;
        }
        return file;
    }

    if (path.empty()) {
        error = std::strerror(ENOENT);
        return nullptr;
    }

    int fd = -1;
    if (stat(path.c_str(), &st) == 0) {
        // Something is there, perhaps behind a link: written where it is. A
        // regular file is emptied first; a FIFO or a device is not touched
        // before writing. A folder is refused by the open itself.
        int flags = O_WRONLY | O_NOCTTY | O_CLOEXEC;
        if (S_ISREG(st.st_mode)) flags |= O_TRUNC;
        fd = open(path.c_str(), flags);
        if (fd < 0 || fstat(fd, &st) != 0) {
            error = std::strerror(errno);
            if (fd >= 0) close(fd);
            return nullptr;
        }
        file->seekable_ = S_ISREG(st.st_mode);
    } else if (errno != ENOENT) {
        error = std::strerror(errno);
        return nullptr;
    } else {
        struct stat link {};
        if (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
            error = "not writing through a dangling symbolic link";
            return nullptr;
        }
        const std::size_t slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
        const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        if (name.empty()) {
            error = std::strerror(ENOENT);
            return nullptr;
        }
        std::string temp = folder + "." + name + ".XXXXXX";
        if (temp.size() >= sizeof g_temp_path) {
            error = std::strerror(ENAMETOOLONG);
            return nullptr;
        }
        {
            const SignalsHeld held;
            fd = mkostemp(temp.data(), O_CLOEXEC);
            if (fd >= 0) {
                std::memcpy(g_temp_path, temp.c_str(), temp.size() + 1);
                g_has_temp = 1;
                file->temp_ = temp;
            }
        }
        if (fd < 0) {
            error = std::strerror(errno);
            return nullptr;
        }
        // mkostemp makes the file private; it gets the mode a new file would.
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
        file->seekable_ = true;
    }

    file->stream_ = fdopen(fd, "wb");
    if (!file->stream_) {
        error = std::strerror(errno);
        close(fd);
        return nullptr;  // the destructor removes a temporary file
    }
    return file;
}

bool OutputFile::Rewrite(const void* data, std::size_t size) {
    return seekable_ && std::fflush(stream_) == 0 && fseeko(stream_, start_, SEEK_SET) == 0 &&
           std::fwrite(data, 1, size, stream_) == size && std::fflush(stream_) == 0;
}

bool OutputFile::Commit(std::string& error) {
    bool ok = std::fflush(stream_) == 0 && !std::ferror(stream_);
    if (!ok) error = std::strerror(errno);
    if (owns_stream_) {
        const int closed = std::fclose(stream_);
        stream_ = nullptr;
        if (closed != 0 && ok) {
            ok = false;
            error = std::strerror(errno);
        }
    }
    if (!ok || temp_.empty()) return ok;
    const SignalsHeld held;
    if (RenameNoReplace(temp_.c_str(), path_.c_str()) != 0) {
        error = std::strerror(errno);
        return false;
    }
    g_has_temp = 0;
    temp_.clear();
    return true;
}

OutputFile::~OutputFile() {
    if (stream_ && owns_stream_) std::fclose(stream_);
    if (!temp_.empty()) {
        const SignalsHeld held;
        unlink(temp_.c_str());
        g_has_temp = 0;
    }
}

}  // namespace quorvex
