// SPDX-License-Identifier: GPL-3.0-or-later
// Where quorvex-render writes: each kind of target the user can name, the
// refusals with the system's reason, and no temporary file left behind on
// an error, a file-size limit or an ending signal.

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
    std::string file_;    // the render as a complete file
    std::string stream_;  // the same as a stream
};

TEST_F(OutputTargets, EachKindOfTargetIsWrittenAsCpWouldOrRefusedWithTheReason) {
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
        {"an existing longer file with mode 600: written in place, mode and inode kept",
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

TEST_F(OutputTargets, EndingSignalsRemoveTheTemporaryFile) {
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        const fs::path d = dir_ / std::to_string(sig);
        fs::create_directory(d);
        const pid_t pid = fork();
        if (pid == 0) {
            // Half-way through writing a new file when the signal comes.
            std::string error;
            auto out = OutputFile::Open((d / "out.wav").string(), error);
            if (!out || std::fwrite("RIFF", 1, 4, out->stream()) != 4 || std::fflush(out->stream()) != 0) _exit(3);
            if (TemporaryFiles(d).size() != 1) _exit(4);
            kill(getpid(), sig);
            _exit(5);  // not reached: the signal ends the process
        }
        int raw = 0;
        ASSERT_EQ(waitpid(pid, &raw, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(raw)) << "exit status " << WEXITSTATUS(raw);
        EXPECT_EQ(WTERMSIG(raw), sig);
        EXPECT_TRUE(fs::is_empty(d));
    }
}

TEST_F(OutputTargets, FailedCommitRemovesTheTemporaryFile) {
    // The name was taken by someone else while the new file was written: the
    // new file does not replace it, and nothing is left behind.
    std::string error;
    auto out = OutputFile::Open((dir_ / "late.wav").string(), error);
    ASSERT_TRUE(out) << error;
    std::fputs("new", out->stream());
    Write(dir_ / "late.wav", "theirs");
    EXPECT_FALSE(out->Commit(error));
    EXPECT_EQ(error, std::strerror(EEXIST));
    out.reset();
    EXPECT_EQ(Read(dir_ / "late.wav"), "theirs");
    EXPECT_EQ(TemporaryFiles(dir_), std::vector<std::string>{});
}

}  // namespace
}  // namespace quorvex
