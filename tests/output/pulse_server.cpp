// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/output/pulse_server.h"

#include <QDir>
#include <QFile>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace quorvex::testing_support {

namespace {

// Polls `ready` every 20 ms for up to `ms`: for outside processes, which
// send no notification this process could wait on.
bool Poll(const std::function<bool()>& ready, int ms) {
    const QDeadlineTimer deadline(ms);
    while (!ready()) {
        if (deadline.hasExpired()) return false;
        QThread::msleep(20);
    }
    return true;
}

bool Succeeds(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(5000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool Alive(long pid) {
    // A child that ended is a zombie until reaped: reap it first.
    int status = 0;
    if (::waitpid(static_cast<pid_t>(pid), &status, WNOHANG) == pid) return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0;
}

// Starts `argv` as a child with its output in `log`; its pid, or 0.
long Spawn(const std::vector<std::string>& argv, const QString& log) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const QByteArray path = log.toLocal8Bit();
    posix_spawn_file_actions_addopen(&actions, 1, path.constData(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : 0;
}

// TERM, wait up to 5 s, then KILL; reaps a child.
void Stop(long pid) {
    if (pid <= 0) return;
    ::kill(static_cast<pid_t>(pid), SIGCONT);  // a frozen process cannot end
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    if (!Poll([pid] { return !Alive(pid); }, 5000)) {
        ::kill(static_cast<pid_t>(pid), SIGKILL);
        Poll([pid] { return !Alive(pid); }, 2000);
    }
}

// The private PipeWire's configuration (a 44.1 kHz graph with a null sink),
// shared with the shell scripts that start one.
constexpr char kPipeWireConfig[] = QUORVEX_PIPEWIRE_CONF;

}  // namespace

ServerKind ServerKindFromEnvironment() {
    return qgetenv("QUORVEX_SOUND_SERVER") == "pipewire" ? ServerKind::pipewire : ServerKind::pulseaudio;
}

const char* ServerKindName(ServerKind kind) { return kind == ServerKind::pipewire ? "pipewire" : "pulseaudio"; }

PrivatePulseServer::PrivatePulseServer(ServerKind kind, int sink_rate)
    : kind_(kind), sink_rate_(sink_rate), run_(QDir::tempPath() + "/pa-test.XXXXXX") {
    if (!run_.isValid()) {
        error_ = "no temporary directory";
        return;
    }
    QFile::setPermissions(run_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // Clients of this process (the device under test, pactl, parec) find
    // the server through the runtime directory.
    qputenv("XDG_RUNTIME_DIR", run_.path().toLocal8Bit());
    qunsetenv("PULSE_SERVER");
    const bool started = kind_ == ServerKind::pipewire ? StartPipeWire() : StartPulseAudio();
    if (!started) {
        StopAll();
        return;
    }
    // pactl only once the protocol's socket is there: a client that finds
    // no server may start one of its own in this folder (libpulse's
    // autospawn, on for users other than root), which would then hold the
    // socket.
    const QString socket = run_.path() + "/pulse/native";
    const char* failed = nullptr;
    if (!Poll([&socket] { return QFile::exists(socket); }, 10000)) {
        failed = "no protocol socket after 10 s";
    } else if (!Poll([] { return Succeeds("pactl", {"info"}); }, 10000)) {
        failed = "pactl info had no answer within 10 s";
    } else if (!WaitForSink()) {
        failed = "no sink named null after 10 s";
    } else if (!Poll([] { return Succeeds("pactl", {"set-default-sink", "null"}); }, 10000)) {
        // pipewire-pulse lists the sink (it comes with the configuration)
        // before WirePlumber has set up where defaults are kept, and refuses
        // a default until then: a busy machine can hold WirePlumber back.
        failed = "the null sink could not be made the default within 10 s";
    }
    if (failed) {
        error_ = std::string(ServerKindName(kind_)) + ": the server does not answer (" + failed + ")" + LogTails();
        StopAll();
    }
}

// The last lines of each of the server's logs, for a failed start's message.
std::string PrivatePulseServer::LogTails() const {
    std::string tails;
    for (const char* name : {"pulse.log", "pw.log", "wp.log", "pp.log"}) {
        QFile log(run_.path() + "/" + name);
        if (!log.open(QIODevice::ReadOnly)) continue;
        const QList<QByteArray> lines = log.readAll().trimmed().split('\n');
        tails += std::string("\n--- ") + name + ", last lines:";
        for (qsizetype i = std::max<qsizetype>(0, lines.size() - 8); i < lines.size(); ++i) {
            tails += "\n" + lines[i].toStdString();
        }
    }
    return tails;
}

bool PrivatePulseServer::StartPulseAudio() {
    QProcess daemon;
    daemon.setProcessChannelMode(QProcess::MergedChannels);
    daemon.start("pulseaudio",
                 {"--daemonize=yes", "--system=false", "--exit-idle-time=-1", "--disallow-exit", "-n",
                  "--load=module-null-sink sink_name=null norewinds=1 rate=" + QString::number(sink_rate_) +
                      " channels=2 format=s16le",
                  "--load=module-native-protocol-unix", "--log-target=file:" + run_.path() + "/pulse.log"});
    if (!daemon.waitForFinished(10000) || daemon.exitCode() != 0) {
        error_ = "pulseaudio did not start: " + daemon.readAll().toStdString();
        return false;
    }
    QFile pid_file(run_.path() + "/pulse/pid");
    if (!pid_file.open(QIODevice::ReadOnly)) {
        error_ = "no pid file";
        return false;
    }
    protocol_pid_ = pid_file.readAll().trimmed().toLong();
    return protocol_pid_ > 0;
}

bool PrivatePulseServer::StartPipeWire() {
    // Settings and state in fresh folders too, or WirePlumber writes under
    // the home folder.
    const QString run = run_.path();
    qputenv("XDG_CONFIG_HOME", (run + "/cfg").toLocal8Bit());
    qputenv("XDG_STATE_HOME", (run + "/state").toLocal8Bit());
    QDir().mkpath(run + "/cfg/pipewire/pipewire.conf.d");
    QDir().mkpath(run + "/state");
    QFile source(kPipeWireConfig);
    QFile target(run + "/cfg/pipewire/pipewire.conf.d/10-test.conf");
    if (!source.open(QIODevice::ReadOnly) || !target.open(QIODevice::WriteOnly)) {
        error_ = "cannot copy the PipeWire configuration";
        return false;
    }
    target.write(source.readAll().replace("44100", QByteArray::number(sink_rate_)));
    target.close();

    const std::string bus = (run + "/bus").toStdString();
    const long dbus = Spawn({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=unix:path=" + bus},
                            run + "/dbus.log");
    if (dbus <= 0) {
        error_ = "dbus-daemon did not start";
        return false;
    }
    helpers_.push_back(dbus);
    qputenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + bus).c_str());
    if (!Poll([&bus] { return QFile::exists(QString::fromStdString(bus)); }, 5000)) {
        error_ = "no session bus";
        return false;
    }
    const long pipewire = Spawn({"pipewire"}, run + "/pw.log");
    if (pipewire <= 0 || !Poll([&run] { return QFile::exists(run + "/pipewire-0"); }, 5000)) {
        error_ = "pipewire did not start";
        if (pipewire > 0) helpers_.push_back(pipewire);
        return false;
    }
    helpers_.push_back(pipewire);
    const long wireplumber = Spawn({"wireplumber"}, run + "/wp.log");
    if (wireplumber > 0) helpers_.push_back(wireplumber);
    protocol_pid_ = Spawn({"pipewire-pulse"}, run + "/pp.log");
    if (wireplumber <= 0 || protocol_pid_ <= 0) {
        error_ = "wireplumber or pipewire-pulse did not start";
        return false;
    }
    return true;
}

// WirePlumber makes the sink known to clients a moment after the server
// answers.
bool PrivatePulseServer::WaitForSink() {
    return Poll(
        [this] {
            const std::string sinks = Pactl({"list", "short", "sinks"});
            return sinks.find("\tnull\t") != std::string::npos || sinks.rfind("null\t", 0) == 0;
        },
        10000);
}

void PrivatePulseServer::StopAll() {
    if (recorder_.state() != QProcess::NotRunning) {
        recorder_.kill();
        recorder_.waitForFinished(3000);
    }
    Stop(protocol_pid_);
    protocol_pid_ = 0;
    for (auto it = helpers_.rbegin(); it != helpers_.rend(); ++it) Stop(*it);
    helpers_.clear();
}

PrivatePulseServer::~PrivatePulseServer() { StopAll(); }

void PrivatePulseServer::Kill() {
    if (protocol_pid_ > 0) {
        ::kill(static_cast<pid_t>(protocol_pid_), SIGKILL);
        Poll([this] { return !Alive(protocol_pid_); }, 5000);
        protocol_pid_ = 0;
    }
}

void PrivatePulseServer::KillNow() const {
    if (protocol_pid_ > 0) ::kill(static_cast<pid_t>(protocol_pid_), SIGKILL);
    for (const long pid : helpers_) ::kill(static_cast<pid_t>(pid), SIGKILL);
}

void PrivatePulseServer::Freeze() {
    if (protocol_pid_ > 0) ::kill(static_cast<pid_t>(protocol_pid_), SIGSTOP);
}

void PrivatePulseServer::Thaw() {
    if (protocol_pid_ > 0) ::kill(static_cast<pid_t>(protocol_pid_), SIGCONT);
}

std::string PrivatePulseServer::Pactl(const QStringList& arguments) {
    QProcess pactl;
    pactl.start("pactl", arguments);
    pactl.waitForFinished(5000);
    return pactl.readAllStandardOutput().toStdString();
}

bool PrivatePulseServer::StartRecording() {
    const QString file = run_.path() + "/out.raw";
    QFile::remove(file);
    // A recorder asking for little latency would set the sink's latency (and
    // PipeWire's cycle) below what the stream under test asks for.
    recorder_.start("parec", {"--latency-msec=100", "-d", "null.monitor", "--format=s16le", "--rate=" + QString::number(sink_rate_),
                              "--channels=2", file});
    if (!recorder_.waitForStarted(5000)) return false;
    // An idle null sink renders ahead: play only once samples flow, or the
    // recording may start late.
    const bool flowing = Poll([&file] { return QFile(file).size() > 0; }, 5000);
    recording_for_.start();
    return flowing;
}

std::vector<std::int16_t> PrivatePulseServer::StopRecording() {
    // The monitor lags the sink a little, and the recorder may lag more
    // when the machine is busy: keep recording until the file covers the
    // sink's time up to 300 ms past the end. The sink plays in real time, so
    // that many frames come; a bounded wait only guards against a sink that
    // stopped.
    const QString file_name = run_.path() + "/out.raw";
    const qint64 frame_bytes = 2 * static_cast<qint64>(sizeof(std::int16_t));
    const qint64 wanted = (recording_for_.elapsed() + 300) * sink_rate_ / 1000 * frame_bytes;
    WaitUntil([] { return false; }, 300);
    WaitUntil([&] { return QFile(file_name).size() >= wanted; }, 10000);
    recorder_.terminate();
    recorder_.waitForFinished(5000);
    QFile file(run_.path() + "/out.raw");
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    std::vector<std::int16_t> samples(static_cast<std::size_t>(bytes.size()) / sizeof(std::int16_t));
    std::copy_n(bytes.constData(), samples.size() * sizeof(std::int16_t), reinterpret_cast<char*>(samples.data()));
    return samples;
}

bool WaitUntil(const std::function<bool()>& done, int ms) {
    const QDeadlineTimer deadline(ms);
    QTimer wake;  // so that the wait below comes back to look at the deadline
    wake.start(10);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return done();
}

std::ptrdiff_t Find(const std::vector<std::int16_t>& whole, const std::vector<std::int16_t>& part) {
    const auto it = std::search(whole.begin(), whole.end(), part.begin(), part.end());
    return it == whole.end() ? -1 : it - whole.begin();
}

}  // namespace quorvex::testing_support
