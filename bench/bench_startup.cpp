// Start-up with 100,000 saved locations (or as many as the first argument says) until the
// window is shown, and the close that saves them again, with the real settings store in a
// configuration folder of its own. The list is saved as an earlier version left it, in the
// INI file; pass --moved to time a start that finds it in its own file already.
#include "app/Form1.h"
#include "locations/LocationList.h"
#include "platform/qt/QtSettingsStore.h"
#include "platform/qt/QtShell.h"
#include "platform/qt/QtSkin.h"
#include "support/FakeDialogs.h"
#include "support/FakeImageFormat.h"
#include "support/FakeNetwork.h"
#include "support/FakeWindowSystem.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QWindow>

#include <cstdio>

namespace {

int Locations = 100'000;

void useConfigFolder(const QString& path)
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, path);
}

// What the last run left: written under another name and moved into place, so that start-up
// reads it from disk as a fresh process would.
bool writeLastRun(const QString& config)
{
    QString list;
    for (int i = 0; i < Locations; ++i)
        list += QStringLiteral("Location %1 MA;").arg(i);
    const QString staging = config + QStringLiteral("/staging.conf");
    {
        QSettings settings(staging, QSettings::IniFormat);
        settings.setValue(QStringLiteral("Orrowdale/Zip Codes"), list);
        settings.setValue(QStringLiteral("Orrowdale/Output Folder"), config + QLatin1Char('/'));
        settings.setValue(QStringLiteral("Orrowdale/Zoom"), QStringLiteral("5"));
        settings.setValue(QStringLiteral("Orrowdale/Slider1"), QStringLiteral("70"));
    }
    return QFile::rename(staging, QtSettingsStore::earlierLocation(QStringLiteral("Tamberlyn")));
}

// Read as the next start would, with a store of its own.
int savedCount()
{
    const QString list = QtSettingsStore().read(QStringLiteral("Tamberlyn"), QStringLiteral("Orrowdale"),
                                                QStringLiteral("Zip Codes"), QString());
    return static_cast<int>(list.count(QLatin1Char(';')));
}

} // namespace

int main(int argc, char* argv[])
{
    QElapsedTimer process;
    process.start();
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    const qint64 application = process.elapsed();
    useConfigFolder(config.path());
    const QStringList args = QCoreApplication::arguments();
    for (const QString& arg : args.mid(1))
        if (arg.toInt() > 0)
            Locations = arg.toInt();
    if (!writeLastRun(config.path())) {
        std::fprintf(stderr, "cannot write the saved settings\n");
        return 1;
    }
    if (args.contains(QStringLiteral("--moved")))
        QtSettingsStore().read(QStringLiteral("Tamberlyn"), QStringLiteral("Orrowdale"),
                               QStringLiteral("Zip Codes"), QString());

    FakeWindowSystem window; // ends the program by throwing, so the close can be timed
    QtSettingsStore settings;
    FakeNetwork network;
    FakeImageFormat images;
    FakeDialogs dialogs;
    QtSkin skin;
    QtShell shell;
    Platform platform{window, settings, network, images, dialogs, skin, shell};

    QElapsedTimer t;
    t.start();
    Form1 form(platform);
    form.Form_Load();
    form.show();
    while (!form.windowHandle() || !form.windowHandle()->isExposed())
        QApplication::processEvents();
    QApplication::processEvents();
    const qint64 startup = t.elapsed();
    const int restored = form.locations().count();

    // A changed list, so that the close really writes it.
    form.locations().append(QStringLiteral("Haverhill MA"));
    t.restart();
    try {
        if (form.Form_QueryUnload())
            form.Form_Unload();
    } catch (const ProgramEnded&) {
    }
    const qint64 close = t.elapsed();

    const int saved = savedCount();
    std::printf("saved locations:            %d%s (restored %d, %d saved at the close)\n", Locations,
                args.contains(QStringLiteral("--moved")) ? ", in their own file" : ", in the INI file",
                restored, saved);
    std::printf("application object:         %lld ms\n", static_cast<long long>(application));
    std::printf("start-up to shown window:   %lld ms (target <= 1000 ms)\n", static_cast<long long>(startup));
    std::printf("close, list saved to disk:  %lld ms (target <= 500 ms)\n", static_cast<long long>(close));
    std::printf("boxes shown:                %zu\n", window.boxes.size());
    return restored == Locations && saved == Locations + 1 && window.boxes.empty() ? 0 : 1;
}
