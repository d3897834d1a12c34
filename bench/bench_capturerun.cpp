// A whole capture run of 200 locations against the local map service on loopback: the real
// window, network code and conversions; only the message boxes are recorded instead of shown.
#include "app/Form1.h"
#include "locations/LocationList.h"
#include "platform/qt/QtImageFormat.h"
#include "platform/qt/QtNetwork.h"
#include "support/CaptureWindow.h"
#include "support/MapServiceProcess.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>

namespace {

constexpr int Locations = 200;
constexpr double Target = 50; // locations per second

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    MapServiceProcess service;
    if (!service.isRunning()) {
        std::printf("%s\n", qPrintable(service.errorString()));
        return 1;
    }

    QtNetwork network;
    QtImageFormat images;
    CaptureWindow window(network, images, service.baseUrl(), QStringLiteral("12"));

    // Distinct places, so every page and picture is a new one for the service too.
    QStringList places;
    for (int i = 1; i <= Locations; ++i)
        places << QStringLiteral("Main St %1, Haverhill MA").arg(i);
    window.form.locations().appendMany(places);

    QElapsedTimer clock;
    clock.start();
    window.form.PushButton17_Click();
    const double seconds = clock.nsecsElapsed() / 1e9;

    const qsizetype written = window.jpgs().size();
    if (written != Locations || window.fake.window.boxTexts() != QStringList{QStringLiteral("Done.")}) {
        std::printf("the run failed: %lld of %d files; %s\n", static_cast<long long>(written), Locations,
                    qPrintable(window.fake.window.boxTexts().join(QStringLiteral(" / "))));
        return 1;
    }
    std::printf("capture run, %d locations, 640x640 GIFs from the local map service on loopback:\n",
                Locations);
    std::printf("  %8.2f s  %8.1f locations/s  (target >= %.0f)\n", seconds, Locations / seconds, Target);
    return 0;
}
