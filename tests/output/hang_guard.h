// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Ends the test program when a scope runs longer than its limit, so that a
// regression that hangs in a nested event loop fails the run instead of
// blocking it. The watch runs on a thread of its own, because a hung event
// loop may still run timers but never returns to the test.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace quorvex::testing_support {

class HangGuard {
public:
    HangGuard(std::chrono::seconds limit, const char* what)
        : watch_([this, limit, what] {
              std::unique_lock lock{m_};
              if (!done_changed_.wait_for(lock, limit, [this] { return done_; })) {
                  std::fprintf(stderr, "HUNG for %llds: %s\n", static_cast<long long>(limit.count()), what);
                  std::fflush(stderr);
                  std::abort();
              }
          }) {}
    ~HangGuard() {
        {
            std::scoped_lock lock{m_};
            done_ = true;
        }
        done_changed_.notify_one();
        watch_.join();
    }
    HangGuard(const HangGuard&) = delete;
    HangGuard& operator=(const HangGuard&) = delete;

private:
    std::mutex m_;
    std::condition_variable done_changed_;
    bool done_ = false;  // guarded by m_
    std::thread watch_;  // last: starts once the fields above exist
};

}  // namespace quorvex::testing_support
