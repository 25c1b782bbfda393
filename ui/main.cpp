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

#include <cstdio>
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

// Whether the command line can be answered without a display: a help or
// version text, or a refusal of what is not an option, where there is no
// display the toolkit could reach. Those runs use the toolkit's off-screen
// platform, so that they print their text instead of the toolkit stopping
// the program for want of a display.
bool NeedsNoDisplay(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || HasArgument(argc, argv, {"-platform"})) return false;
    if (HasArgument(argc, argv, {"-h", "--help", "--help-all", "-?", "-v", "--version"})) return true;
    return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char* argv[]) {
    const bool off_screen = NeedsNoDisplay(argc, argv);
    if (off_screen) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(quorvex::kApplicationTitle));
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
    if (!parser.parse(QApplication::arguments())) {
        std::fprintf(stderr, "quorvex: %s\nTry 'quorvex --help' for the options.\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(help)) {
        QString text = parser.helpText();
        text.replace(QStringLiteral("Usage: ") + QApplication::arguments().constFirst(), QStringLiteral("Usage: quorvex"));
        std::fputs(qPrintable(text), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("help-all"))) parser.showHelp(0);  // with the toolkit's options; exits
    if (parser.isSet(version)) {
        std::printf("quorvex %s\n", QUORVEX_VERSION);
        return 0;
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
    return app.exec();
}
