// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/render/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/xattr.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

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

// With the ending signals held: the temporary file the handler removes,
// none when `temp` is empty.
void Remember(const std::string& temp) {
    if (!temp.empty()) std::memcpy(g_temp_path, temp.c_str(), temp.size() + 1);
    g_has_temp = temp.empty() ? 0 : 1;
}

// The folder part of a path, with its slash (empty for the current
// folder), and the name after it.
std::pair<std::string, std::string> Split(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {"", path};
    return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

// The names of a file's extended attributes, each ending in a 0 byte;
// nullopt when they cannot be read.
std::optional<std::vector<char>> AttributeNames(int fd) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size = flistxattr(fd, nullptr, 0);
        if (size < 0) {
            if (errno == ENOTSUP) return std::vector<char>{};  // a file system without them
            return std::nullopt;
        }
        std::vector<char> names(static_cast<std::size_t>(size));
        const ssize_t got = flistxattr(fd, names.data(), names.size());
        if (got >= 0) {
            names.resize(static_cast<std::size_t>(got));
            return names;
        }
        if (errno != ERANGE) return std::nullopt;  // ERANGE: one was added meanwhile
    }
    return std::nullopt;
}

// Gives `to` every extended attribute of `from` (ACLs among them); false
// unless `to` ends up with exactly those.
bool CopyAttributes(int from, int to) {
    const std::optional<std::vector<char>> names = AttributeNames(from);
    if (!names) return false;
    for (const char* name = names->data(); name < names->data() + names->size(); name += std::strlen(name) + 1) {
        const ssize_t size = fgetxattr(from, name, nullptr, 0);
        if (size < 0) return false;
        std::vector<char> value(static_cast<std::size_t>(size));
        if (fgetxattr(from, name, value.data(), value.size()) != size) return false;
        if (fsetxattr(to, name, value.data(), value.size(), 0) != 0) return false;
    }
    // The new file may have been given more (a folder's default ACL).
    const std::optional<std::vector<char>> now = AttributeNames(to);
    return now && now->size() == names->size();
}

}  // namespace

std::unique_ptr<OutputFile> OutputFile::Open(const std::string& path, std::string& error, Temporary temporary) {
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
        // Something is there, perhaps behind links. Opening it for writing
        // is the check that the user may write it; nothing is changed yet.
        // A FIFO or a device is then written as it is; a folder is refused
        // by the open itself.
        fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd < 0 || fstat(fd, &st) != 0) {
            error = std::strerror(errno);
            if (fd >= 0) close(fd);
            return nullptr;
        }
        if (S_ISREG(st.st_mode)) {
            file->seekable_ = true;
            if (!file->PrepareReplacement(fd, st, temporary)) {
                if (ftruncate(fd, 0) != 0) {
                    error = std::strerror(errno);
                    close(fd);
                    return nullptr;
                }
                file->kind_ = Kind::in_place;
            }
        }
    } else if (errno != ENOENT) {
        error = std::strerror(errno);
        return nullptr;
    } else {
        struct stat link {};
        if (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
            error = "not writing through a dangling symbolic link";
            return nullptr;
        }
        std::tie(file->folder_, file->name_) = Split(path);
        if (file->name_.empty()) {
            error = std::strerror(ENOENT);
            return nullptr;
        }
        fd = file->OpenTemporary(temporary, error);
        if (fd < 0) return nullptr;
        file->kind_ = Kind::fresh;
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

int OutputFile::OpenTemporary(Temporary temporary, std::string& error) {
    // An unnamed file is named through /proc when complete.
    if (temporary == Temporary::Unnamed && access("/proc/self/fd", X_OK) == 0) {
        // The mode a new file gets, as for any open that creates one.
        const int fd = open(folder_.empty() ? "." : folder_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd >= 0) {
            unnamed_ = true;
            return fd;
        }
        // Not supported by the file system (or the kernel): a named file.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            error = std::strerror(errno);
            return -1;
        }
    }
    std::string temp = folder_ + "." + name_ + ".XXXXXX";
    if (temp.size() >= sizeof g_temp_path) {
        error = std::strerror(ENAMETOOLONG);
        return -1;
    }
    int fd = -1;
    {
        const SignalsHeld held;
        fd = mkostemp(temp.data(), O_CLOEXEC);
        if (fd >= 0) {
            Remember(temp);
            temp_ = temp;
        }
    }
    if (fd < 0) {
        error = std::strerror(errno);
        return -1;
    }
    // mkostemp makes the file private; it gets the mode a new file would.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    return fd;
}

void OutputFile::DropTemporary(int fd) {
    close(fd);
    unnamed_ = false;
    if (!temp_.empty()) {
        const SignalsHeld held;
        unlink(temp_.c_str());
        Remember({});
        temp_.clear();
    }
}

bool OutputFile::PrepareReplacement(int& fd, const struct stat& old, Temporary temporary) {
    // Another link would keep the old contents, and would no longer be the
    // same file as this one.
    if (old.st_nlink != 1) return false;
    // The file itself is replaced, not a link leading to it.
    char* real = realpath(path_.c_str(), nullptr);
    if (!real) return false;
    const std::string target = real;
    std::free(real);
    std::tie(folder_, name_) = Split(target);
    std::string ignored;  // no new file here: written in place instead
    const int temp = OpenTemporary(temporary, ignored);
    if (temp < 0) return false;
    // Attributes first, as an ACL sets mode bits too; the owner before the
    // mode, since a change of owner may clear set-id bits.
    struct stat now {};
    const bool same = CopyAttributes(fd, temp) && fchown(temp, old.st_uid, old.st_gid) == 0 &&
                      fchmod(temp, old.st_mode & 07777) == 0 && fstat(temp, &now) == 0 &&
                      now.st_uid == old.st_uid && now.st_gid == old.st_gid &&
                      (now.st_mode & 07777) == (old.st_mode & 07777);
    if (!same) {
        DropTemporary(temp);
        return false;
    }
    close(fd);
    fd = temp;
    path_ = target;
    kind_ = Kind::replacing;
    return true;
}

bool OutputFile::Name(std::string& error) {
    const std::string self = "/proc/self/fd/" + std::to_string(fileno(stream_));
    if (kind_ == Kind::fresh) {
        // A link never replaces: a file that appeared meanwhile stays.
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path_.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            error = std::strerror(errno);
            return false;
        }
        unnamed_ = false;
        return true;
    }
    // For that reason a replacement takes a temporary name first, which the
    // rename then moves over the old file.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temp =
            folder_ + "." + name_ + "." + std::to_string(getpid()) + "-" + std::to_string(attempt);
        if (temp.size() >= sizeof g_temp_path) {
            error = std::strerror(ENAMETOOLONG);
            return false;
        }
        const SignalsHeld held;
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            Remember(temp);
            temp_ = temp;
            unnamed_ = false;
            return true;
        }
        if (errno != EEXIST) {
            error = std::strerror(errno);
            return false;
        }
    }
    error = std::strerror(EEXIST);
    return false;
}

bool OutputFile::Rewrite(const void* data, std::size_t size) {
    return seekable_ && std::fflush(stream_) == 0 && fseeko(stream_, start_, SEEK_SET) == 0 &&
           std::fwrite(data, 1, size, stream_) == size && std::fflush(stream_) == 0;
}

bool OutputFile::Commit(std::string& error) {
    bool ok = std::fflush(stream_) == 0 && !std::ferror(stream_);
    if (!ok) error = std::strerror(errno);
    // An unnamed file can only be named while it is open.
    if (ok && unnamed_) ok = Name(error);
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
    const int moved = kind_ == Kind::replacing ? std::rename(temp_.c_str(), path_.c_str())
                                               : RenameNoReplace(temp_.c_str(), path_.c_str());
    if (moved != 0) {
        error = std::strerror(errno);
        return false;
    }
    Remember({});
    temp_.clear();
    return true;
}

std::string OutputFile::FailureNote() const {
    return kind_ == Kind::in_place ? "; the old file was partly overwritten" : "";
}

OutputFile::~OutputFile() {
    // An unnamed file goes with its last descriptor.
    if (stream_ && owns_stream_) std::fclose(stream_);
    if (!temp_.empty()) {
        const SignalsHeld held;
        unlink(temp_.c_str());
        Remember({});
    }
}

}  // namespace quorvex
