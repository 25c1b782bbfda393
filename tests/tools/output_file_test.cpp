// SPDX-License-Identifier: GPL-3.0-or-later
// Where quorvex-render writes: each kind of target the user can name, the
// refusals with the system's reason, an existing file left whole by a failed
// write wherever it can be, and no temporary file left behind on an error,
// a file-size limit or an ending signal, SIGKILL included.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/tools/run_process.h"
#include "tools/render/output_file.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::RunProcess;
using testing_support::UnprivilegedUser;

std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void Write(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

struct stat Stat(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(lstat(p.c_str(), &st), 0) << p;
    return st;
}

// Hidden names are what a temporary file would be called.
std::vector<std::string> TemporaryFiles(const fs::path& dir) {
    std::vector<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.path().filename().string().starts_with(".")) found.push_back(e.path().string());
    return found;
}

class OutputTargets : public ::testing::Test {
protected:
    void SetUp() override {
        old_mask_ = umask(022);
        std::string pattern = (fs::temp_directory_path() / "quorvex-output-test.XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        // Reachable by the unprivileged user of the permission cases.
        fs::permissions(dir_, fs::perms(0755));
        const fs::path ref = dir_ / "reference.wav";
        ASSERT_EQ(Render(ref.string(), {}).status, 0);
        file_ = Read(ref);
        ASSERT_EQ(file_.size(), 44u + 2 * 44100u);
        stream_ = file_;
        // A stream carries the sizes of one of unknown length.
        stream_.replace(4, 4, "\xFF\xFF\xFF\xFF");
        stream_.replace(40, 4, "\xDB\xFF\xFF\xFF");
    }
    void TearDown() override {
        umask(old_mask_);
        for (const auto& e : fs::recursive_directory_iterator(dir_))
            if (e.is_directory() && !e.is_symlink()) fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir_);
    }

    static ProcessResult Render(const std::string& target, ProcessOptions options) {
        options.args = {QUORVEX_RENDER_PATH, "-o", target, "--speed", "no-sweep", "--chunks", "2"};
        return RunProcess(options);
    }

    mode_t old_mask_ = 0;
    fs::path dir_;
    int n_ = 0;  // numbers the folders of looped cases
    std::string file_;    // the render as a complete file
    std::string stream_;  // the same as a stream
};

TEST_F(OutputTargets, EachKindOfTargetIsWrittenWhereItIsOrRefusedWithTheReason) {
    const auto other = UnprivilegedUser();
    if (!other.ok) GTEST_SKIP() << "running as root without a user 'nobody' for the permission cases";
    const std::string denied = std::strerror(EACCES);
    std::thread reader;
    std::string from_fifo;

    struct Case {
        const char* name;
        // Prepares the case's folder; returns the -o argument.
        std::function<std::string(const fs::path&)> make;
        int status;
        std::string error;  // within standard error after "cannot write '<target>': "
        std::function<void(const fs::path&)> check;
        bool as_other_user = false;
        bool capture_stdout = false;
    };
    const std::vector<Case> cases = {
        {"a new file: created whole, with the mode a new file gets",
         [](const fs::path& d) { return (d / "out.wav").string(); }, 0, "",
         [&](const fs::path& d) {
             EXPECT_EQ(Read(d / "out.wav"), file_);
             EXPECT_EQ(Stat(d / "out.wav").st_mode & 07777, 0644u);
         }},
        {"an existing longer file with mode 600: replaced, mode kept",
         [](const fs::path& d) {
             Write(d / "out.wav", std::string(500000, 'x'));
             fs::permissions(d / "out.wav", fs::perms(0600));
             return (d / "out.wav").string();
         },
         0, "",
         [&](const fs::path& d) {
             EXPECT_EQ(Read(d / "out.wav"), file_);
             EXPECT_EQ(Stat(d / "out.wav").st_mode & 07777, 0600u);
         }},
        {"a symbolic link: followed, its target written, the link kept",
         [](const fs::path& d) {
             fs::create_directory(d / "real");
             Write(d / "real" / "target.wav", "old");
             fs::create_symlink("real/target.wav", d / "link.wav");
             return (d / "link.wav").string();
         },
         0, "",
         [&](const fs::path& d) {
             EXPECT_TRUE(S_ISLNK(Stat(d / "link.wav").st_mode));
             EXPECT_EQ(Read(d / "real" / "target.wav"), file_);
         }},
        {"a hard link: both names show the new contents",
         [](const fs::path& d) {
             Write(d / "a.wav", "old");
             fs::create_hard_link(d / "a.wav", d / "b.wav");
             return (d / "a.wav").string();
         },
         0, "",
         [&](const fs::path& d) {
             EXPECT_EQ(Read(d / "b.wav"), file_);
             EXPECT_EQ(Stat(d / "b.wav").st_nlink, 2u);
         }},
        {"a FIFO: written as a stream, still a FIFO",
         [&](const fs::path& d) {
             EXPECT_EQ(mkfifo((d / "fifo").c_str(), 0644), 0);
             reader = std::thread([&from_fifo, p = d / "fifo"] { from_fifo = Read(p); });
             return (d / "fifo").string();
         },
         0, "",
         [&](const fs::path& d) {
             reader.join();
             EXPECT_EQ(from_fifo, stream_);
             EXPECT_TRUE(S_ISFIFO(Stat(d / "fifo").st_mode));
         }},
        {"/dev/null: written as a stream, still the device",
         [](const fs::path&) { return std::string("/dev/null"); }, 0, "",
         [](const fs::path&) { EXPECT_TRUE(S_ISCHR(Stat("/dev/null").st_mode)); }},
        {"a device that fails the write: the system's reason",
         [](const fs::path&) { return std::string("/dev/full"); }, 1, std::strerror(ENOSPC),
         [](const fs::path&) { EXPECT_TRUE(S_ISCHR(Stat("/dev/full").st_mode)); }},
        {"standard output: a stream",
         [](const fs::path&) { return std::string("-"); }, 0, "", nullptr, false, true},
        {"a file the user may not write, in a folder anyone may write: refused, untouched",
         [](const fs::path& d) {
             fs::permissions(d, fs::perms(0777));
             Write(d / "out.wav", "old");
             fs::permissions(d / "out.wav", fs::perms(0444));
             return (d / "out.wav").string();
         },
         1, denied,
         [](const fs::path& d) {
             EXPECT_EQ(Read(d / "out.wav"), "old");
             EXPECT_EQ(Stat(d / "out.wav").st_mode & 07777, 0444u);
         },
         true},
        {"a new file in a folder the user may not write: refused",
         [](const fs::path& d) {
             fs::permissions(d, fs::perms(0555));
             return (d / "out.wav").string();
         },
         1, denied, [](const fs::path& d) { EXPECT_FALSE(fs::exists(d / "out.wav")); }, true},
        {"a missing folder: refused",
         [](const fs::path& d) { return (d / "missing" / "out.wav").string(); }, 1, std::strerror(ENOENT),
         [](const fs::path& d) { EXPECT_FALSE(fs::exists(d / "missing")); }},
        {"a folder: refused",
         [](const fs::path& d) { return d.string(); }, 1, std::strerror(EISDIR), nullptr},
        {"a dangling symbolic link: refused, nothing made",
         [](const fs::path& d) {
             fs::create_symlink("nowhere.wav", d / "link.wav");
             return (d / "link.wav").string();
         },
         1, "not writing through a dangling symbolic link", [](const fs::path& d) { EXPECT_FALSE(fs::exists(d / "nowhere.wav")); }},
    };

    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path d = dir_ / std::to_string(n++);
        fs::create_directory(d);
        const std::string target = c.make(d);
        ProcessOptions options;
        if (c.as_other_user) options.user = other.user;
        options.capture_stdout = c.capture_stdout;
        const ProcessResult r = Render(target, options);
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.status, c.status) << r.err;
        if (c.status != 0) {
            const std::string shown = target == "-" ? "standard output" : "'" + target + "'";
            EXPECT_NE(r.err.find("quorvex-render: cannot write " + shown + ": " + c.error), std::string::npos) << r.err;
        } else {
            EXPECT_EQ(r.err, "");
        }
        if (c.capture_stdout) {
            EXPECT_EQ(r.out, stream_);
        }
        if (c.check) c.check(d);
        if (reader.joinable()) reader.join();
        fs::permissions(d, fs::perms::owner_all, fs::perm_options::add);
        EXPECT_EQ(TemporaryFiles(d), std::vector<std::string>{});
    }
}

TEST_F(OutputTargets, FileSizeLimitFailsTheWriteAndLeavesNothing) {
    ProcessOptions limited;
    limited.file_size_limit = 50000;  // the render is 88 244 bytes
    fs::create_directory(dir_ / "new");
    const ProcessResult r = Render((dir_ / "new" / "out.wav").string(), limited);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 1) << r.err;  // a failed write, not a process ended by SIGXFSZ
    EXPECT_NE(r.err.find(std::strerror(EFBIG)), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty(dir_ / "new"));
}

// A write that fails part-way (here past a file-size limit) over an
// existing file: a file that a new one can stand in for is left whole; one
// that must be written in place (a second link, a folder where no file can
// be made, another owner) is said to be partly overwritten.
TEST_F(OutputTargets, AFailedWriteOverAnExistingFileLeavesItWholeWhereItCan) {
    const auto other = UnprivilegedUser();
    const bool root = geteuid() == 0;
    const std::string old(60000, 'x');  // the render is 88 244 bytes, the limit 50 000
    struct Case {
        const char* name;
        // Prepares the case's folder; returns the -o argument.
        std::function<std::string(const fs::path&)> make;
        bool in_place;
        bool only_as_root = false;  // the case needs a file of another owner
        std::function<void(const fs::path&)> check = nullptr;
    };
    // As root the render runs as another user, for whom the permissions
    // bind: the case's files are then given to that user.
    const auto own = [&](const fs::path& p) {
        if (root && other.user) {
            EXPECT_EQ(lchown(p.c_str(), other.user->first, other.user->second), 0) << p;
        }
    };
    const std::vector<Case> cases = {
        {"a file of one's own", [&](const fs::path& d) {
             Write(d / "out.wav", old);
             own(d);
             own(d / "out.wav");
             return (d / "out.wav").string();
         }, false},
        {"a symbolic link to one: the file behind it",
         [&](const fs::path& d) {
             Write(d / "real.wav", old);
             fs::create_symlink("real.wav", d / "link.wav");
             own(d);
             own(d / "real.wav");
             own(d / "link.wav");
             return (d / "link.wav").string();
         },
         false, false,
         [&](const fs::path& d) {
             EXPECT_TRUE(S_ISLNK(Stat(d / "link.wav").st_mode));
             EXPECT_TRUE(Read(d / "real.wav") == old);
         }},
        {"a file with a second link",
         [&](const fs::path& d) {
             Write(d / "out.wav", old);
             fs::create_hard_link(d / "out.wav", d / "twin.wav");
             own(d);
             own(d / "out.wav");
             return (d / "out.wav").string();
         },
         true, false,
         [&](const fs::path& d) {
             EXPECT_EQ(Stat(d / "twin.wav").st_nlink, 2u);
             EXPECT_TRUE(Read(d / "twin.wav") == Read(d / "out.wav"));
         }},
        {"a file in a folder where no file can be made",
         [&](const fs::path& d) {
             Write(d / "out.wav", old);
             own(d / "out.wav");
             fs::permissions(d, fs::perms(0555));
             return (d / "out.wav").string();
         },
         true},
        {"a file of another owner, writable by the user",
         [&](const fs::path& d) {
             fs::permissions(d, fs::perms(0777));
             Write(d / "out.wav", old);
             fs::permissions(d / "out.wav", fs::perms(0666));
             return (d / "out.wav").string();
         },
         true, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.only_as_root && !(root && other.user)) continue;  // no file of another owner can be made
        if (!other.ok) continue;
        const fs::path d = dir_ / ("failing" + std::to_string(n++));
        fs::create_directory(d);
        const std::string target = c.make(d);
        const struct stat before = Stat(target);
        ProcessOptions options;
        options.file_size_limit = 50000;
        // As root, the folder's and the file's permissions bind only another user.
        if (root) options.user = other.user;
        const ProcessResult r = Render(target, options);
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.status, 1) << r.err;
        const std::string said = "quorvex-render: cannot write '" + target + "': " + std::strerror(EFBIG);
        const std::string note = "; the old file was partly overwritten";
        EXPECT_NE(r.err.find(said + (c.in_place ? note : "\n")), std::string::npos) << r.err;
        const struct stat after = Stat(target);
        EXPECT_EQ(Read(target) == old, !c.in_place);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_mode, before.st_mode);
        if (c.check) c.check(d);
        fs::permissions(d, fs::perms::owner_all, fs::perm_options::add);
        EXPECT_EQ(TemporaryFiles(d), std::vector<std::string>{});
    }
}

// Replacing keeps what the user set on the file and shows nothing new under
// its name until the commit, with either kind of temporary file.
TEST_F(OutputTargets, AReplacedFileKeepsItsModeAndChangesOnlyAtTheCommit) {
    for (const auto kind : {OutputFile::Temporary::Unnamed, OutputFile::Temporary::Named}) {
        SCOPED_TRACE(kind == OutputFile::Temporary::Unnamed ? "unnamed" : "named");
        const fs::path target = dir_ / "replaced.wav";
        Write(target, "old");
        fs::permissions(target, fs::perms(0640));
        std::string error;
        auto out = OutputFile::Open(target.string(), error, kind);
        ASSERT_TRUE(out) << error;
        std::fputs("new", out->stream());
        std::fflush(out->stream());
        EXPECT_EQ(Read(target), "old");
        ASSERT_TRUE(out->Commit(error)) << error;
        out.reset();
        EXPECT_EQ(Read(target), "new");
        EXPECT_EQ(Stat(target).st_mode & 07777, 0640u);
        EXPECT_EQ(TemporaryFiles(dir_), std::vector<std::string>{});
    }
}

// A run ended half-way, by a signal it can handle or by SIGKILL, leaves the
// folder as it was: no temporary file, an existing target untouched. Only a
// file without a name is gone after SIGKILL; the named kind, for file
// systems without such files, is not asked that.
TEST_F(OutputTargets, EndedRunsLeaveNothingBehind) {
    const int probe = open(dir_.c_str(), O_TMPFILE | O_WRONLY, 0600);
    const bool unnamed_files = probe >= 0;
    if (unnamed_files) close(probe);
    for (const auto kind : {OutputFile::Temporary::Unnamed, OutputFile::Temporary::Named}) {
        const bool named = kind == OutputFile::Temporary::Named;
        if (!named && !unnamed_files) continue;  // the file system has none
        for (const bool existing : {false, true}) {
            for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
                if (named && sig == SIGKILL) continue;
                SCOPED_TRACE(std::string(named ? "named, " : "unnamed, ") + (existing ? "existing, " : "new, ") +
                             strsignal(sig));
                const fs::path d = dir_ / ("ended" + std::to_string(n_++));
                fs::create_directory(d);
                if (existing) Write(d / "out.wav", "old");
                const pid_t pid = fork();
                if (pid == 0) {
                    // Half-way through writing when the signal comes.
                    std::string error;
                    auto out = OutputFile::Open((d / "out.wav").string(), error, kind);
                    if (!out || std::fwrite("RIFF", 1, 4, out->stream()) != 4 || std::fflush(out->stream()) != 0) _exit(3);
                    if (named && TemporaryFiles(d).size() != 1) _exit(4);
                    if (named == out->unnamed()) _exit(5);
                    kill(getpid(), sig);
                    _exit(6);  // not reached: the signal ends the process
                }
                int raw = 0;
                ASSERT_EQ(waitpid(pid, &raw, 0), pid);
                ASSERT_TRUE(WIFSIGNALED(raw)) << "exit status " << WEXITSTATUS(raw);
                EXPECT_EQ(WTERMSIG(raw), sig);
                EXPECT_EQ(TemporaryFiles(d), std::vector<std::string>{});
                if (existing) {
                    EXPECT_EQ(Read(d / "out.wav"), "old");
                } else {
                    EXPECT_TRUE(fs::is_empty(d));
                }
            }
        }
    }
}

TEST_F(OutputTargets, FailedCommitRemovesTheTemporaryFile) {
    // The name was taken by someone else while the new file was written: the
    // new file does not replace it, and nothing is left behind.
    for (const auto kind : {OutputFile::Temporary::Unnamed, OutputFile::Temporary::Named}) {
        SCOPED_TRACE(kind == OutputFile::Temporary::Unnamed ? "unnamed" : "named");
        const fs::path target = dir_ / "late.wav";
        fs::remove(target);
        std::string error;
        auto out = OutputFile::Open(target.string(), error, kind);
        ASSERT_TRUE(out) << error;
        std::fputs("new", out->stream());
        Write(target, "theirs");
        EXPECT_FALSE(out->Commit(error));
        EXPECT_EQ(error, std::strerror(EEXIST));
        out.reset();
        EXPECT_EQ(Read(target), "theirs");
        EXPECT_EQ(TemporaryFiles(dir_), std::vector<std::string>{});
    }
}

}  // namespace
}  // namespace quorvex
