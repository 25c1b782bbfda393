// Program start-up: the application title, the main window, the event loop.

#include <QApplication>
#include <QIcon>

#include "ui/uquorvex.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(quorvex::kApplicationTitle));
    // Ties the window to the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.quorvex.Quorvex"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("org.quorvex.Quorvex")));

    quorvex::TfToneGenerator fToneGenerator;
    fToneGenerator.show();
    return app.exec();
}
