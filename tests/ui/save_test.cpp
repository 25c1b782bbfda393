// SPDX-License-Identifier: GPL-3.0-or-later
// Save as WAV from the main window, its file dialog replaced by a stand-in:
// the file is the one quorvex-render writes for the same settings, Start's
// refusals and the writer's errors are said, and output that plays goes on
// as if nothing had been saved.

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "controls/kv_gradient.h"
#include "output/playback.h"
#include "output/virtual_wave_device.h"
#include "tests/tools/run_process.h"
#include "ui/uquorvex.h"
#include "ui/widgets.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::RunProcess;

std::vector<char> Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class SaveTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "quorvex-save-test.XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        w.SetSaveDialog([this](QWidget* parent, const std::string& offered) {
            EXPECT_EQ(parent, &w);
            proposed.push_back(offered);
            return answer;
        });
    }
    void TearDown() override {
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
        for (const auto& entry : fs::recursive_directory_iterator(dir))
            if (entry.is_directory()) fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir);
    }

    // Saves through the window into `file` in the test's folder.
    void SaveAs(const std::string& file) {
        answer = (dir / file).string();
        w.SaveAsWav();
    }

    // quorvex-render's file for `args`.
    std::vector<char> Render(const std::vector<std::string>& args) {
        const fs::path out = dir / "render.wav";
        ProcessOptions run;
        run.args = {QUORVEX_RENDER_PATH, "-o", out.string()};
        run.args.insert(run.args.end(), args.begin(), args.end());
        const ProcessResult r = RunProcess(run);
        EXPECT_EQ(r.status, 0) << r.err;
        std::vector<char> bytes = Bytes(out);
        fs::remove(out);
        return bytes;
    }

    std::vector<fs::path> Entries() const { return {fs::directory_iterator(dir), fs::directory_iterator()}; }

    // Hands the device's pending notifications to playback, and those their
    // handlers raise in turn.
    static void Deliver() {
        for (int round = 0; round < 4; ++round) QCoreApplication::sendPostedEvents();
    }

    VirtualWaveDevice device;
    VirtualWaveDevice noise_device;
    std::vector<std::pair<std::string, std::string>> messages;
    std::unique_ptr<TfToneGenerator> window = std::make_unique<TfToneGenerator>(
        device, noise_device,
        [this](const std::string& caption, const std::string& text) { messages.emplace_back(caption, text); });
    TfToneGenerator& w = *window;
    fs::path dir;
    std::vector<std::string> proposed;  // what the dialog was offered, in order
    std::string answer;                 // the path it answers; empty cancels
};

// Every speed, each with other settings of the window, is saved byte for
// byte as quorvex-render writes it with the matching options, under a name
// that says what it holds: a slow sweep whole, the other kinds 10 s.
TEST_F(SaveTest, EachSpeedIsSavedAsQuorvexRenderWritesIt) {
    struct Case {
        std::string name;  // proposed
        std::function<void(TfToneGenerator&)> set;
        std::vector<std::string> options;
    };
    const Case cases[] = {
        {"fast-smooth-sweep-20-20000Hz-log.wav", [](TfToneGenerator&) {}, {"--seconds", "10"}},
        {"fast-stepped-sweep-300-3000Hz-linear.wav",
         [](TfToneGenerator& w) {
             w.grpSweepSpeed->SetItemIndex(1);
             w.gbFrequencyRange->SetItemIndex(2);
             w.grpSweepMode->SetItemIndex(0);
             w.grpChannels->SetItemIndex(1);
             w.tkbLeftLevel->SetPosition(3);
         },
         {"--speed", "fast-stepped", "--range", "speech", "--mode", "linear", "--channels", "180", "--left-level", "3",
          "--right-level", "3", "--seconds", "10"}},
        // Limits typed as Start reads them: a text that is no number plays
        // 150 Hz, hexadecimal is taken.
        {"slow-sweep-150-8000Hz-log-markers.wav",
         [](TfToneGenerator& w) {
             w.grpSweepSpeed->SetItemIndex(2);
             w.chkOctaveMarker->click();
             w.edtF1->SetText("abc");
             w.edtF2->SetText("$1F40");
             w.grpChannels->SetItemIndex(2);
             w.tkbLeftLevel->SetPosition(5);
             w.tkbRightLevel->SetPosition(20);
             w.tbLowPower->SetPosition(10);
         },
         {"--speed", "slow", "--markers", "--from", "150", "--to", "8000", "--channels", "independent", "--left-level",
          "5", "--right-level", "20", "--step", "10"}},
        // Unlocked bars, each where it stands.
        {"manual-528Hz-77Hz.wav",
         [](TfToneGenerator& w) {
             w.grpSweepSpeed->SetItemIndex(3);
             w.gbFrequencyRange->SetItemIndex(3);
             w.grpSweepMode->SetItemIndex(0);
             w.cbLockFreq->click();
             w.tkbLeftFrequency->SetPosition(90);
             w.tkbRightFrequency->SetPosition(175);
         },
         {"--speed", "manual", "--range", "lf", "--mode", "linear", "--left-bar", "90", "--right-bar", "175",
          "--seconds", "10"}},
        // Locked again after the bars were moved apart: Start moves the
        // right bar to the left one's position.
        {"manual-2052Hz.wav",
         [](TfToneGenerator& w) {
             w.grpSweepSpeed->SetItemIndex(3);
             w.cbLockFreq->click();
             w.tkbLeftFrequency->SetPosition(60);
             w.tkbRightFrequency->SetPosition(175);
             w.cbLockFreq->click();
         },
         {"--speed", "manual", "--left-bar", "60", "--right-bar", "60", "--seconds", "10"}},
        // No sweep plays the lower limit alone: the hidden upper one may
        // hold anything.
        {"tone-1000Hz.wav",
         [](TfToneGenerator& w) {
             w.grpSweepSpeed->SetItemIndex(4);
             w.edtF1->SetText("1000");
             w.edtF2->SetText("0");
             w.chkLeft->click();
         },
         {"--speed", "no-sweep", "--from", "1000", "--left-off", "--seconds", "10"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TfToneGenerator fresh(device, noise_device,
                              [this](const std::string& caption, const std::string& text) {
                                  messages.emplace_back(caption, text);
                              });
        std::string offered;
        fresh.SetSaveDialog([&](QWidget*, const std::string& p) {
            offered = p;
            return (dir / "saved.wav").string();
        });
        c.set(fresh);
        fresh.SaveAsWav();
        EXPECT_TRUE(messages.empty()) << messages.front().second;
        EXPECT_EQ(fs::path(offered).filename(), c.name);
        const std::vector<char> saved = Bytes(dir / "saved.wav");
        const std::vector<char> rendered = Render(c.options);
        EXPECT_EQ(saved.size(), rendered.size());
        EXPECT_TRUE(saved == rendered);
        fs::remove(dir / "saved.wav");
    }
}

// The dialog opens in the home folder first, then where the last file went;
// cancelling it writes nothing.
TEST_F(SaveTest, TheDialogRemembersTheFolderAndCancelWritesNothing) {
    fs::create_directory(dir / "sub");
    SaveAs("sub/first.wav");
    answer.clear();
    w.SaveAsWav();
    ASSERT_EQ(proposed.size(), 2u);
    EXPECT_EQ(proposed[0], QDir::homePath().toStdString() + "/fast-smooth-sweep-20-20000Hz-log.wav");
    EXPECT_EQ(proposed[1], (dir / "sub" / "fast-smooth-sweep-20-20000Hz-log.wav").string());
    EXPECT_EQ(Entries().size(), 1u);
    EXPECT_TRUE(fs::exists(dir / "sub" / "first.wav"));
    EXPECT_TRUE(messages.empty());
}

// Limits Start refuses are refused with Start's own warning, before any
// dialog, and nothing is written.
TEST_F(SaveTest, LimitsStartRefusesAreRefusedWithItsWarning) {
    answer = (dir / "x.wav").string();
    const std::pair<const char*, const char*> limits[] = {{"0", "20000"}, {"20", "-5"}};
    for (const auto& [lower, upper] : limits) {
        SCOPED_TRACE(std::string(lower) + " " + upper);
        messages.clear();
        w.edtF1->SetText(lower);
        w.edtF2->SetText(upper);
        w.SaveAsWav();
        w.btnStart->click();
        ASSERT_EQ(messages.size(), 2u);
        EXPECT_EQ(messages[0], messages[1]);
        EXPECT_EQ(messages[0].first, "Warning");
    }
    EXPECT_TRUE(proposed.empty());
    EXPECT_TRUE(Entries().empty());
    EXPECT_FALSE(device.is_open());
}

// A target that cannot be written is said with the system's reason, and
// nothing of the file is left: not where it was to go, not beside it.
TEST_F(SaveTest, AnUnwritableTargetIsSaidAndLeavesNothing) {
    struct Case {
        std::string target;
        const char* reason;
        rlim_t size_limit;  // RLIM_INFINITY: none
    };
    std::vector<Case> cases = {
        {(dir / "missing" / "x.wav").string(), "No such file or directory", RLIM_INFINITY},
        // A full disk.
        {"/dev/full", "No space left on device", RLIM_INFINITY},
        // The file fails halfway, past the size a process may write.
        {(dir / "x.wav").string(), "File too large", 100000},
        // Nobody reads it: the window would wait for good.
        {(dir / "pipe").string(), "It is a pipe or a socket, not a file", RLIM_INFINITY},
    };
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    // Folder permissions do not hold for root.
    if (geteuid() != 0) {
        fs::create_directory(dir / "read-only");
        fs::permissions(dir / "read-only", fs::perms::owner_read | fs::perms::owner_exec);
        cases.push_back({(dir / "read-only" / "x.wav").string(), "Permission denied", RLIM_INFINITY});
    }
    w.grpSweepSpeed->SetItemIndex(2);  // 7.9 MB
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        messages.clear();
        answer = c.target;
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limited = saved;
        limited.rlim_cur = c.size_limit;
        setrlimit(RLIMIT_FSIZE, &limited);
        w.SaveAsWav();
        setrlimit(RLIMIT_FSIZE, &saved);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].first, "Warning");
        EXPECT_EQ(messages[0].second, "Could not save " + c.target + ":\r" + c.reason + ".");
        std::vector<fs::path> left;
        for (const auto& entry : fs::recursive_directory_iterator(dir))
            if (entry.is_regular_file()) left.push_back(entry.path());
        EXPECT_TRUE(left.empty()) << left.front();
    }
}

// A save while a slow sweep with markers plays changes nothing of the
// playback: not the generator, not the marker label, not the device's
// queue; the sweep plays on to its end, and what it played is the saved
// file, which starts where Start starts.
TEST_F(SaveTest, SavingWhileASweepPlaysLeavesItAlone) {
    w.grpSweepSpeed->SetItemIndex(2);
    w.chkOctaveMarker->click();
    w.btnStart->click();
    Deliver();
    const GeneratorState& gen = w.gen();
    for (int chunk = 0; chunk < 6; ++chunk) {
        device.Advance(11025);
        Deliver();
    }
    ASSERT_EQ(w.lblLastMarker->Caption(), "Last at:\r23 Hz");
    const auto snapshot = [&] {
        return std::make_tuple(gen.fl, gen.fr, gen.last_f, gen.left_angle, gen.right_angle, gen.buffers_written,
                               gen.buffers_played, gen.current_octave, gen.next_octave, gen.sweep_running,
                               w.lblLastMarker->Caption(), w.lblFnow->Caption(), device.calls().size(),
                               device.queue().size(), device.played().size());
    };
    const auto before = snapshot();
    SaveAs("sweep.wav");
    EXPECT_TRUE(messages.empty()) << messages.front().second;
    EXPECT_TRUE(before == snapshot());
    EXPECT_EQ(w.playback().state(), PlaybackState::Streaming);

    for (int chunk = 0; chunk < 200 && device.is_open(); ++chunk) {
        device.Advance(11025);
        Deliver();
    }
    EXPECT_FALSE(gen.sweep_running);
    const std::vector<char> saved = Bytes(dir / "sweep.wav");
    ASSERT_EQ(saved.size(), 44 + device.played().size() * sizeof(std::int16_t));
    EXPECT_EQ(std::memcmp(saved.data() + 44, device.played().data(), saved.size() - 44), 0);
}

// Ctrl+S asks for a file wherever the focus is; so does the menu of the
// window's background, which the controls do not show.
TEST_F(SaveTest, CtrlSAndTheBackgroundMenuAskForAFile) {
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    for (QWidget* focus : std::initializer_list<QWidget*>{w.btnStart, w.edtF1, w.tkbLeftLevel}) {
        focus->setFocus();
        QTest::keyClick(w.windowHandle(), Qt::Key_S, Qt::ControlModifier);
    }
    EXPECT_EQ(proposed.size(), 3u);

    EXPECT_EQ(w.actSaveAsWav->text(), QStringLiteral("Save as WAV\u2026"));
    // A right click at `pos` in `target`, its centre by default.
    const auto menu_at = [](QWidget* target, std::optional<QPoint> at = std::nullopt) {
        const QPoint pos = at.value_or(target->rect().center());
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, target->mapToGlobal(pos));
        QApplication::sendEvent(target, &event);
        QWidget* shown = QApplication::activePopupWidget();
        if (shown) shown->close();
        return shown;
    };
    // Between the manual-frequency and the speed group: the bare background.
    EXPECT_EQ(menu_at(w.gradient, w.gradient->mapFrom(&w, QPoint(178, 150))), w.mnuBackground);
    EXPECT_EQ(menu_at(w.lblLeftAttn), w.mnuBackground);
    EXPECT_EQ(menu_at(w.grpSweepSpeed->Button(0)), nullptr);
    EXPECT_EQ(menu_at(w.btnStart), nullptr);
    ASSERT_EQ(w.mnuBackground->actions().size(), 1);
    EXPECT_EQ(w.mnuBackground->actions()[0], w.actSaveAsWav);
    EXPECT_EQ(w.actSaveAsWav->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
    w.mnuBackground->actions()[0]->trigger();
    EXPECT_EQ(proposed.size(), 4u);
}

}  // namespace
}  // namespace quorvex
