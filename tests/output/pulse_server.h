#pragma once
// A private sound server for tests: its own runtime directory, a null sink
// whose monitor gives back exactly the samples played, started and stopped
// by pid. Recording goes through parec into a file.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quorvex::testing_support {

class PrivatePulseServer {
public:
    // Starts the server and points this process's clients at it. ok() says
    // whether it came up.
    PrivatePulseServer();
    // Stops the server (and a running recording) by pid.
    ~PrivatePulseServer();
    PrivatePulseServer(const PrivatePulseServer&) = delete;
    PrivatePulseServer& operator=(const PrivatePulseServer&) = delete;

    bool ok() const { return pid_ > 0; }
    // Why the start failed, for the test's message.
    const std::string& error() const { return error_; }

    // Starts recording the null sink's monitor (s16le, 2 channels, 44100 Hz)
    // and returns once samples flow.
    bool StartRecording();
    // Ends the recording and returns its samples, interleaved.
    std::vector<std::int16_t> StopRecording();

    // What `pactl <arguments>` prints, talking to this server.
    std::string Pactl(const QStringList& arguments);

    // Ends the server at once, as a crash would.
    void Kill();

private:
    QTemporaryDir dir_;
    long pid_ = 0;
    std::string error_;
    QProcess recorder_;
};

// Runs the event loop until done() holds or `ms` milliseconds pass; returns
// done().
bool WaitUntil(const std::function<bool()>& done, int ms);

// Index of the first occurrence of `part` in `whole`, or -1.
std::ptrdiff_t Find(const std::vector<std::int16_t>& whole, const std::vector<std::int16_t>& part);

}  // namespace quorvex::testing_support
