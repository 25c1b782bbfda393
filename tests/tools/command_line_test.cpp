// SPDX-License-Identifier: GPL-3.0-or-later
// The command lines of quorvex and quorvex-render, run as processes: help
// and version on standard output, refusals with status 2 and a clear
// message, and the render written to standard output.

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/tools/run_process.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;
using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::RunProcess;

struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;  // expected at the start of standard output ("" nothing)
    std::string err;  // expected within standard error ("" nothing)
    std::vector<std::string> environment = {};
};

void CheckCases(const char* program, const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        ProcessOptions options;
        options.args = {program};
        options.args.insert(options.args.end(), c.args.begin(), c.args.end());
        options.capture_stdout = true;
        options.timeout_seconds = 20;  // a window opened by mistake never ends by itself
        options.environment = c.environment;
        std::string name;
        for (const std::string& a : c.args) name += a + " ";
        SCOPED_TRACE(name);
        const ProcessResult r = RunProcess(options);
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.status, c.status) << r.err;
        if (c.out.empty()) {
            EXPECT_EQ(r.out, "");
        } else {
            EXPECT_EQ(r.out.substr(0, c.out.size()), c.out) << r.out;
        }
        if (c.err.empty()) {
            EXPECT_EQ(r.err.find("quorvex"), std::string::npos) << r.err;
        } else {
            EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        }
    }
}

TEST(CommandLine, RenderToolAnswersHelpAndVersionAndRefusesTheRest) {
    CheckCases(QUORVEX_RENDER_PATH, {
        {{"--help"}, 0, "Usage: quorvex-render -o FILE [OPTION]...\n", ""},
        {{"-h"}, 0, "Usage: quorvex-render", ""},
        // Wherever it stands, even after an option missing its output file.
        {{"--speed", "slow", "--help"}, 0, "Usage: quorvex-render", ""},
        {{"--version"}, 0, "quorvex-render " QUORVEX_VERSION "\n", ""},
        {{"-v"}, 0, "quorvex-render " QUORVEX_VERSION "\n", ""},
        {{"-V"}, 0, "quorvex-render " QUORVEX_VERSION "\n", ""},
        {{"--bogus"}, 2, "", "quorvex-render: unknown option '--bogus'\nTry 'quorvex-render --help'"},
        {{"--bogus=1"}, 2, "", "quorvex-render: unknown option '--bogus'\n"},
        {{"-Z"}, 2, "", "quorvex-render: unknown option '-Z'\n"},
        {{"-o"}, 2, "", "-o needs a value"},
        {{"-o", "-", "--speed"}, 2, "", "--speed needs a value"},
        {{"-o", "-", "--sp"}, 2, "", "--speed needs a value"},
        {{"--output"}, 2, "", "--output needs a value"},
        {{"-o", "-", "--markers=yes"}, 2, "", "option --markers takes no value"},
        {{"-o", "-", "--mark=yes"}, 2, "", "option --markers takes no value"},
        {{"-o", "-", "--left=3"}, 2, "", "ambiguous option '--left=3' (--left-level, --left-off, --left-bar)"},
        {{"-o", "-", "sweep.wav"}, 2, "", "unexpected argument 'sweep.wav'"},
        {{}, 2, "", "no output file given"},
    });
}

// GNU forms: values joined with "=" or to a short option, options after
// arguments' values, unique abbreviations.
TEST(CommandLine, RenderToolTakesGnuForms) {
    CheckCases(QUORVEX_RENDER_PATH, {
        {{"--speed=slow", "-o-", "--chunks=1"}, 0, "RIFF", ""},
        {{"--output", "-", "--speed", "no-sweep", "--chunks", "1"}, 0, "RIFF", ""},
        {{"--output=-", "--sp=manual", "--chu=1"}, 0, "RIFF", ""},
        {{"-o/dev/null", "--speed=no-sweep", "--chunks=1", "--from= 1000", "--to=$3E8"}, 0, "", ""},
        {{"--chunks", "1", "--speed", "no-sweep", "--output=/dev/null"}, 0, "", ""},
    });
}

// A limit that is not a whole number is refused and named, not replaced by
// the window's fall-back limits; values too long to read are cut.
TEST(CommandLine, RenderToolRefusesValuesNamingThem) {
    std::vector<Case> cases;
    for (const char* limit : {"1000.5", "1e3", "1000 ", "2147483648", "", "abc"}) {
        for (const char* option : {"--from", "--to"}) {
            cases.push_back({{"-o", "/dev/null", option, limit}, 2, "",
                             std::string("quorvex-render: invalid value '") + limit + "' for " + option + " (a whole number of Hz)\n"});
        }
    }
    cases.push_back({{"-o", "/dev/null", "--from=0"}, 2, "", "cannot render with the limits 0 Hz and 20000 Hz"});
    cases.push_back({{"-o", "/dev/null", "--step=0"}, 2, "", "invalid value '0' for --step (a whole number 1..30)"});
    cases.push_back({{"-o", "/dev/null", "--speed=fast"}, 2, "", "invalid value 'fast' for --speed (one of: fast-smooth"});
    const std::string long_value(10000, 'x');
    cases.push_back({{"-o", "/dev/null", "--speed=" + long_value}, 2, "",
                     "invalid value '" + std::string(60, 'x') + "...' for --speed"});
    cases.push_back({{"-o", "/dev/null", "--from", long_value}, 2, "", "invalid value '" + std::string(60, 'x') + "...' for --from"});
    cases.push_back({{"-o", "/dev/null", "--" + long_value}, 2, "", "unknown option '--" + std::string(58, 'x') + "...'"});
    // Cut before a character, never inside one: 59 ASCII bytes, then "é".
    cases.push_back({{"-o", "/dev/null", "--mode=" + std::string(59, 'x') + "\xC3\xA9" + long_value}, 2, "",
                     "invalid value '" + std::string(59, 'x') + "...' for --mode"});
    CheckCases(QUORVEX_RENDER_PATH, cases);
}

TEST(CommandLine, WindowProgramTakesOnlyHelpVersionAndToolkitOptions) {
    // No display is needed for any of these: the refusals come before a
    // window would be made, and a window made by mistake fails the case by
    // the deadline.
    const std::vector<std::string> no_display = {"QT_QPA_PLATFORM=", "DISPLAY=", "WAYLAND_DISPLAY="};
    CheckCases(QUORVEX_PATH, {
        {{"--help"}, 0, "Usage: quorvex [options]\n", "", no_display},
        {{"--help"}, 0, "Usage: quorvex [options]\n", ""},
        // With the toolkit's own options.
        {{"--help-all"}, 0, "Usage: quorvex [options]\n", "", no_display},
        {{"--version"}, 0, "quorvex " QUORVEX_VERSION "\n", "", no_display},
        {{"-v"}, 0, "quorvex " QUORVEX_VERSION "\n", ""},
        // The toolkit's standard options are taken by the toolkit.
        {{"-style", "fusion", "--version"}, 0, "quorvex " QUORVEX_VERSION "\n", ""},
        {{"--bogus"}, 2, "", "quorvex: Unknown option 'bogus'.\nTry 'quorvex --help'"},
        {{"--bogus"}, 2, "", "Unknown option 'bogus'", no_display},
        {{"--speed", "slow"}, 2, "", "Unknown option 'speed'"},
        {{"sweep.wav"}, 2, "", "quorvex: unexpected argument 'sweep.wav'"},
        // A toolkit option without its value.
        {{"-style"}, 2, "", "quorvex: option '-style' needs a value\n", no_display},
        {{"--version", "-stylesheet"}, 2, "", "quorvex: option '-stylesheet' needs a value\n", no_display},
        // Without a display the window cannot open: said plainly.
        {{}, 1, "", "quorvex: no display to show the window on", no_display},
    });
}

TEST(CommandLine, WindowProgramHelpAllListsTheToolkitOptions) {
    ProcessOptions options;
    options.args = {QUORVEX_PATH, "--help-all"};
    options.capture_stdout = true;
    const ProcessResult all = RunProcess(options);
    options.args = {QUORVEX_PATH, "--help"};
    const ProcessResult help = RunProcess(options);
    ASSERT_EQ(all.status, 0) << all.err;
    ASSERT_EQ(help.status, 0) << help.err;
    for (const char* option : {"--platform", "--qwindowgeometry", "--reverse", "--session"}) {
        EXPECT_NE(all.out.find(std::string("  ") + option + " "), std::string::npos) << option << " in\n" << all.out;
        EXPECT_EQ(help.out.find(std::string("  ") + option + " "), std::string::npos) << option << " in\n" << help.out;
    }
}

// Help and version into a full disk: the failed write is an error.
TEST(CommandLine, HelpAndVersionReportAFailedWrite) {
    struct WriteCase {
        const char* program;
        const char* option;
        const char* prefix;
    };
    for (const WriteCase& c : {WriteCase{QUORVEX_RENDER_PATH, "--help", "quorvex-render"},
                               WriteCase{QUORVEX_RENDER_PATH, "--version", "quorvex-render"},
                               WriteCase{QUORVEX_PATH, "--help", "quorvex"},
                               WriteCase{QUORVEX_PATH, "--help-all", "quorvex"},
                               WriteCase{QUORVEX_PATH, "--version", "quorvex"}}) {
        SCOPED_TRACE(std::string(c.program) + " " + c.option);
        ProcessOptions options;
        options.args = {c.program, c.option};
        options.stdout_file = "/dev/full";
        const ProcessResult r = RunProcess(options);
        EXPECT_EQ(r.status, 1);
        const std::string message = std::string(c.prefix) + ": write error on standard output: " + std::strerror(ENOSPC) + "\n";
        EXPECT_TRUE(r.err.ends_with(message)) << r.err;
    }
}

std::uint32_t Le32(const std::string& b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
    return v;
}

class RenderToStandardOutput : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "quorvex-stdout-test.XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        const ProcessResult r = Render("-o", (dir_ / "file.wav").string(), {});
        ASSERT_EQ(r.status, 0) << r.err;
        file_ = Read(dir_ / "file.wav");
        ASSERT_EQ(file_.size(), 44u + 2 * 44100u);
    }
    void TearDown() override { fs::remove_all(dir_); }

    static std::string Read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    ProcessResult Render(const std::string& o, const std::string& target, ProcessOptions options) const {
        options.args = {QUORVEX_RENDER_PATH, o, target, "--speed", "no-sweep", "--chunks", "2"};
        return RunProcess(options);
    }

    fs::path dir_;
    std::string file_;  // the same render written to a file
};

TEST_F(RenderToStandardOutput, PipeGetsTheStreamSizesFileGetsTheRealOnes) {
    ProcessOptions piped;
    piped.capture_stdout = true;
    const ProcessResult r = Render("-o", "-", piped);
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.out.size(), file_.size());
    // A pipe cannot be gone back to: the largest sizes, as a stream of
    // unknown length carries them; the samples are the file's.
    EXPECT_EQ(Le32(r.out, 4), 0xFFFFFFFFu);
    EXPECT_EQ(Le32(r.out, 40), 0xFFFFFFFFu - 36);
    EXPECT_EQ(r.out.substr(44), file_.substr(44));
    EXPECT_EQ(r.out.substr(8, 32), file_.substr(8, 32));

    // Redirected to a file, the header is completed as for -o FILE.
    ProcessOptions redirected;
    redirected.stdout_file = (dir_ / "redirected.wav").string();
    ASSERT_EQ(Render("-o", "-", redirected).status, 0);
    EXPECT_EQ(Read(dir_ / "redirected.wav"), file_);

    // Appended to a file (>>): what was there stays, the header cannot be
    // gone back to.
    std::ofstream(dir_ / "appended.wav", std::ios::binary) << "before";
    redirected.stdout_file = (dir_ / "appended.wav").string();
    redirected.stdout_append = true;
    ASSERT_EQ(Render("-o", "-", redirected).status, 0);
    EXPECT_EQ(Read(dir_ / "appended.wav"), "before" + r.out);
}

}  // namespace
}  // namespace quorvex
