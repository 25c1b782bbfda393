// SPDX-License-Identifier: GPL-3.0-or-later
// Program start-up: the command line, the application title, the main
// window, the event loop.
//
// The program takes no settings of its own: besides the toolkit's standard
// options (-platform, -style, ...) it answers --help and --version, and
// refuses anything else before a window is made.

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "ui/uquorvex.h"

namespace {

bool HasArgument(int argc, char* argv[], std::initializer_list<const char*> names) {
    for (int i = 1; i < argc; ++i)
        for (const char* name : names)
            if (std::strcmp(argv[i], name) == 0) return true;
    return false;
}

// Whether the toolkit is told its platform: -platform with a value.
bool PlatformGiven(int argc, char* argv[]) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0) return true;
    return false;
}

// Whether the command line can be answered without a display: a help or
// version text, or a refusal of what is not an option, where there is no
// display the toolkit could reach. Those runs use the toolkit's off-screen
// platform, so that they print their text instead of the toolkit stopping
// the program for want of a display.
bool NeedsNoDisplay(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || PlatformGiven(argc, argv)) return false;
    if (HasArgument(argc, argv, {"-h", "--help", "--help-all", "-?", "-v", "--version"})) return true;
    return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// The toolkit's options that take a value. The toolkit takes an option
// with its value out of the arguments; one left behind had no value.
bool LacksItsValue(const QString& argument) {
    static const QStringList kWithValue = {
        QStringLiteral("style"), QStringLiteral("stylesheet"), QStringLiteral("platform"),
        QStringLiteral("platformpluginpath"), QStringLiteral("platformtheme"), QStringLiteral("plugin"),
        QStringLiteral("qwindowgeometry"), QStringLiteral("qwindowicon"), QStringLiteral("qwindowtitle"),
        QStringLiteral("session"), QStringLiteral("display"), QStringLiteral("geometry"),
        QStringLiteral("title"), QStringLiteral("name")};
    QString name = argument;
    if (name.startsWith(QLatin1String("--")))
        name.remove(0, 2);
    else if (name.startsWith(QLatin1Char('-')))
        name.remove(0, 1);
    else
        return false;
    return kWithValue.contains(name);
}

// Standard output must have taken the whole text: a full disk or a closed
// pipe is an error, said on standard error with status 1.
int FinishOutput() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
    std::fprintf(stderr, "quorvex: write error on standard output: %s\n", std::strerror(errno));
    return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
    const bool off_screen = NeedsNoDisplay(argc, argv);
    if (off_screen) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // On X11 the window's class (WM_CLASS) is the application name when the
    // first window is made: "Quorvex", as the desktop entry's StartupWMClass
    // says, so that docks match the window to its entry. The application's
    // title, which message boxes carry, is set once the window exists.
    QApplication::setApplicationName(QStringLiteral("Quorvex"));
    QApplication::setApplicationVersion(QStringLiteral(QUORVEX_VERSION));

    // What the toolkit took for itself is gone from the arguments by now.
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Plays sine tones and frequency sweeps on the sound card: fast and slow sweeps\n"
        "with half-octave markers, a tone tuned by hand, a fixed tone, a chirp and\n"
        "white noise, on two channels at chosen levels. Everything is set in the\n"
        "window; nothing is read from files and nothing is kept between runs."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Displays version information."));
    parser.addOption(version);
    for (const QString& argument : QApplication::arguments().mid(1)) {
        if (LacksItsValue(argument)) {
            std::fprintf(stderr, "quorvex: option '%s' needs a value\nTry 'quorvex --help-all' for the options.\n",
                         qPrintable(argument));
            return 2;
        }
    }
    if (!parser.parse(QApplication::arguments())) {
        std::fprintf(stderr, "quorvex: %s\nTry 'quorvex --help' for the options.\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        // The usage line names the program, not the path it was started by:
        // the toolkit reads the name from the argument vector it was given.
        static char name[] = "quorvex";
        argv[0] = name;
        if (parser.isSet(help)) {
            std::fputs(qPrintable(parser.helpText()), stdout);
            return FinishOutput();
        }
        // Only the parser's own handling of --help-all lists the toolkit's
        // options; it prints and exits, and the check of what it wrote runs
        // on the way out.
        std::atexit([] {
            if (FinishOutput() != 0) std::_Exit(1);
        });
        parser.process(QApplication::arguments());
        return FinishOutput();  // not reached
    }
    if (parser.isSet(version)) {
        std::printf("quorvex %s\n", QUORVEX_VERSION);
        return FinishOutput();
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "quorvex: unexpected argument '%s'\nTry 'quorvex --help' for the options.\n",
                     qPrintable(parser.positionalArguments().constFirst()));
        return 2;
    }
    if (off_screen) {
        std::fprintf(stderr, "quorvex: no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set)\n");
        return 1;
    }

    // Ties the window to the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.quorvex.Quorvex"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("org.quorvex.Quorvex")));

    quorvex::TfToneGenerator fToneGenerator;
    fToneGenerator.show();
    QApplication::setApplicationName(QString::fromLatin1(quorvex::kApplicationTitle));
    return app.exec();
}
