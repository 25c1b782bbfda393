// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Runs a program as a separate process with its output captured, the way a
// shell would start it, with a deadline so that a program that never ends
// fails the test instead of hanging it.

#include <sys/types.h>

#include <optional>
#include <utility>
#include <string>
#include <vector>

namespace quorvex::testing_support {

struct ProcessOptions {
    std::vector<std::string> args;            // args[0] is the program's path
    std::optional<std::string> stdout_file;   // standard output goes here...
    bool stdout_append = false;               // ...opened for appending
    bool capture_stdout = false;              // ...or through a pipe into ProcessResult::out
    std::optional<std::pair<uid_t, gid_t>> user;  // run as this user and group
    std::optional<off_t> file_size_limit;     // RLIMIT_FSIZE in bytes
    std::vector<std::string> environment;     // "NAME=value" added to the test's own
    unsigned timeout_seconds = 30;
};

struct ProcessResult {
    int status = -1;  // exit status, -1 if ended by a signal
    int signal = 0;   // the signal that ended it
    std::string out;  // standard output when captured
    std::string err;  // standard error
};

ProcessResult RunProcess(const ProcessOptions& options);

// For the cases that must be refused by permissions, which do not hold for
// root: the user to run them as. Empty when the test already runs
// unprivileged; "nobody" for root; ok false when root has no such user.
struct OtherUser {
    bool ok = true;
    std::optional<std::pair<uid_t, gid_t>> user;
};
OtherUser UnprivilegedUser();

}  // namespace quorvex::testing_support
