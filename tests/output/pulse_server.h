// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A private sound server for tests: its own runtime directory, a null sink
// named "null" at 44.1 kHz whose monitor gives back exactly the samples
// played, started and stopped by pid. Recording goes through parec into a
// file.
//
// Two kinds speak the same client protocol: PulseAudio itself, and PipeWire
// with WirePlumber and pipewire-pulse (as most current desktops run it). The
// kind comes from QUORVEX_SOUND_SERVER ("pulseaudio", the default, or
// "pipewire"), so that the same tests run against both.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quorvex::testing_support {

enum class ServerKind { pulseaudio, pipewire };

// The kind QUORVEX_SOUND_SERVER asks for.
ServerKind ServerKindFromEnvironment();
const char* ServerKindName(ServerKind kind);

class PrivatePulseServer {
public:
    // Starts the server and points this process's clients at it. ok() says
    // whether it came up.
    // `sink_rate`: the null sink's rate (and PipeWire's graph's); at any
    // other than 44100 a 44.1 kHz stream is resampled by the server.
    explicit PrivatePulseServer(ServerKind kind = ServerKindFromEnvironment(), int sink_rate = 44100);
    // Stops the server (and a running recording) by pid.
    ~PrivatePulseServer();
    PrivatePulseServer(const PrivatePulseServer&) = delete;
    PrivatePulseServer& operator=(const PrivatePulseServer&) = delete;

    ServerKind kind() const { return kind_; }
    bool ok() const { return protocol_pid_ > 0; }
    // Why the start failed, for the test's message.
    const std::string& error() const { return error_; }
    // The runtime directory, where scratch files may go too.
    QString dir() const { return run_.path(); }

    // Starts recording the null sink's monitor (s16le, 2 channels, at the
    // sink's rate)
    // and returns once samples flow.
    bool StartRecording();
    // Ends the recording and returns its samples, interleaved: everything
    // the sink played until 300 ms after the call, however late a busy
    // machine lets the recorder write it (within 10 s more).
    std::vector<std::int16_t> StopRecording();

    // What `pactl <arguments>` prints, talking to this server.
    std::string Pactl(const QStringList& arguments);

    // Sends SIGKILL to every process of the server and returns: only
    // kill(2) is called, so a signal handler may use it.
    void KillNow() const;

    // Ends the process that serves clients at once, as a crash would.
    void Kill();
    // Stops it (SIGSTOP) so that its socket still accepts connections but
    // nothing answers, and lets it go on (SIGCONT).
    void Freeze();
    void Thaw();

private:
    bool StartPulseAudio();
    bool StartPipeWire();
    bool WaitForSink();
    std::string LogTails() const;
    void StopAll();

    ServerKind kind_;
    int sink_rate_;
    QTemporaryDir run_;
    long protocol_pid_ = 0;  // the process clients talk to
    std::vector<long> helpers_;  // PipeWire's daemons and the bus, started in this order
    std::string error_;
    QProcess recorder_;
    QElapsedTimer recording_for_;  // since samples began to flow
};

// Runs the event loop until done() holds or `ms` milliseconds pass; returns
// done().
bool WaitUntil(const std::function<bool()>& done, int ms);

// Index of the first occurrence of `part` in `whole`, or -1.
std::ptrdiff_t Find(const std::vector<std::int16_t>& whole, const std::vector<std::int16_t>& part);

}  // namespace quorvex::testing_support
