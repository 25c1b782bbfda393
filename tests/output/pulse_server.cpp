#include "tests/output/pulse_server.h"

#include <QFile>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <cstdlib>

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

}  // namespace

PrivatePulseServer::PrivatePulseServer() : dir_(QDir::tempPath() + "/pa-test.XXXXXX") {
    if (!dir_.isValid()) {
        error_ = "no temporary directory";
        return;
    }
    // Clients of this process (the device under test, pactl, parec) find
    // the server through the runtime directory.
    qputenv("XDG_RUNTIME_DIR", dir_.path().toLocal8Bit());
    qunsetenv("PULSE_SERVER");
    QProcess daemon;
    daemon.setProcessChannelMode(QProcess::MergedChannels);
    daemon.start("pulseaudio",
                 {"--daemonize=yes", "--system=false", "--exit-idle-time=-1", "--disallow-exit", "-n",
                  "--load=module-null-sink sink_name=null norewinds=1 rate=44100 channels=2 format=s16le",
                  "--load=module-native-protocol-unix", "--log-target=file:" + dir_.path() + "/pulse.log"});
    if (!daemon.waitForFinished(10000) || daemon.exitCode() != 0) {
        error_ = "pulseaudio did not start: " + daemon.readAll().toStdString();
        return;
    }
    QFile pid_file(dir_.path() + "/pulse/pid");
    if (!pid_file.open(QIODevice::ReadOnly)) {
        error_ = "no pid file";
        return;
    }
    pid_ = pid_file.readAll().trimmed().toLong();
    if (!Poll([] { return Succeeds("pactl", {"info"}); }, 5000) ||
        !Succeeds("pactl", {"set-default-sink", "null"})) {
        error_ = "the server does not answer";
        Kill();
    }
}

PrivatePulseServer::~PrivatePulseServer() {
    if (recorder_.state() != QProcess::NotRunning) {
        recorder_.kill();
        recorder_.waitForFinished(3000);
    }
    if (pid_ > 0) {
        ::kill(static_cast<pid_t>(pid_), SIGTERM);
        Poll([this] { return ::kill(static_cast<pid_t>(pid_), 0) != 0; }, 5000);
    }
}

void PrivatePulseServer::Kill() {
    if (pid_ > 0) {
        ::kill(static_cast<pid_t>(pid_), SIGKILL);
        Poll([this] { return ::kill(static_cast<pid_t>(pid_), 0) != 0; }, 5000);
        pid_ = 0;
    }
}

std::string PrivatePulseServer::Pactl(const QStringList& arguments) {
    QProcess pactl;
    pactl.start("pactl", arguments);
    pactl.waitForFinished(5000);
    return pactl.readAllStandardOutput().toStdString();
}

bool PrivatePulseServer::StartRecording() {
    const QString file = dir_.path() + "/out.raw";
    recorder_.start("parec", {"--latency-msec=20", "-d", "null.monitor", "--format=s16le", "--rate=44100",
                              "--channels=2", file});
    if (!recorder_.waitForStarted(5000)) return false;
    // An idle null sink renders ahead: play only once samples flow, or the
    // recording may start late.
    return Poll([&file] { return QFile(file).size() > 0; }, 5000);
}

std::vector<std::int16_t> PrivatePulseServer::StopRecording() {
    // The monitor lags the sink a little; keep recording past the end.
    WaitUntil([] { return false; }, 300);
    recorder_.terminate();
    recorder_.waitForFinished(5000);
    QFile file(dir_.path() + "/out.raw");
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
