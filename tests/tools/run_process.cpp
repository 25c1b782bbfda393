// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/tools/run_process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace quorvex::testing_support {

ProcessResult RunProcess(const ProcessOptions& options) {
    int out_pipe[2] = {-1, -1};
    int err_pipe[2];
    if (options.capture_stdout && pipe2(out_pipe, O_CLOEXEC) != 0) std::abort();
    if (pipe2(err_pipe, O_CLOEXEC) != 0) std::abort();
    std::vector<char*> argv;
    for (const std::string& a : options.args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        int out = -1;
        if (options.capture_stdout) out = out_pipe[1];
        else if (options.stdout_file)
            out = open(options.stdout_file->c_str(), O_WRONLY | O_CREAT | (options.stdout_append ? O_APPEND : O_TRUNC), 0644);
        else out = open("/dev/null", O_WRONLY);
        if (out < 0 || dup2(out, STDOUT_FILENO) < 0 || dup2(err_pipe[1], STDERR_FILENO) < 0) _exit(126);
        for (const std::string& e : options.environment) putenv(const_cast<char*>(e.c_str()));
        if (options.file_size_limit) {
            const rlimit limit{static_cast<rlim_t>(*options.file_size_limit), static_cast<rlim_t>(*options.file_size_limit)};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
        }
        if (options.user) {
            const auto [uid, gid] = *options.user;
            if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) _exit(126);
        }
        alarm(options.timeout_seconds);  // survives the exec: ends a program that hangs
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (options.capture_stdout) close(out_pipe[1]);
    close(err_pipe[1]);

    ProcessResult result;
    pollfd fds[2] = {{err_pipe[0], POLLIN, 0}, {out_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.err, &result.out};
    int open_pipes = options.capture_stdout ? 2 : 1;
    while (open_pipes > 0) {
        if (poll(fds, options.capture_stdout ? 2 : 1, -1) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !fds[i].revents) continue;
            char buffer[65536];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_pipes;
            }
        }
    }
    int raw = 0;
    waitpid(pid, &raw, 0);
    if (WIFEXITED(raw)) result.status = WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) result.signal = WTERMSIG(raw);
    return result;
}

OtherUser UnprivilegedUser() {
    if (geteuid() != 0) return {};
    const passwd* nobody = getpwnam("nobody");
    if (!nobody) return {false, std::nullopt};
    return {true, std::make_pair(nobody->pw_uid, nobody->pw_gid)};
}

}  // namespace quorvex::testing_support
