#include "app/Form1.h"
#include "capture/FileHelpers.h"
#include "platform/PlatformError.h"
#include "platform/qt/QtPlatform.h"

#include <QApplication>

#include <cstdio>

namespace {

// For installers and packaging checks: where the program runs from and whether the hand
// pointer beside it loads. Shows no window.
int checkInstall()
{
    QtShell shell;
    QtWindowSystem window;
    const QString folder = shell.programFolder();
    std::printf("program folder: %s\n", qPrintable(folder));
    try {
        window.loadCursor(folder + PathSeparator() + QStringLiteral("HAND-M.CUR"));
        std::printf("HAND-M.CUR: loaded\n");
        return 0;
    } catch (const PlatformError& e) {
        std::printf("HAND-M.CUR: not loaded: %s\n", qPrintable(e.description()));
        return 1;
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orrowdale"));
    QApplication::setOrganizationName(QStringLiteral("Tamberlyn"));
    if (QApplication::arguments().contains(QStringLiteral("--check-install")))
        return checkInstall();

    QtPlatform qt;
    Form1 form(qt.platform());
    form.Form_Load();
    form.show();
    return QApplication::exec();
}
