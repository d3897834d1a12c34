// A 200-location capture run through the map gateway (tiles source) and stand-in providers,
// each its own process on loopback: once to fill the gateway's cache, then timed with the cache
// warm, and again after the gateway restarts (only its disk cache warm); then the same through
// the gateway drawing from a map file and a place file, with no provider at all.
#include "MapRegion.h"
#include "app/Form1.h"
#include "locations/LocationList.h"
#include "platform/qt/QtImageFormat.h"
#include "platform/qt/QtNetwork.h"
#include "support/CaptureWindow.h"
#include "support/GatewayProcess.h"
#include "support/ProviderStandInProcess.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSaveFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

constexpr int Locations = 200;
constexpr double Target = 30;        // locations per second
constexpr double MapFileTarget = 60; // from files on this computer

// One whole run into a fresh folder; the time it took, or a negative number when it failed.
double run(const QString& gatewayUrl, const QStringList& places)
{
    QtNetwork network;
    QtImageFormat images;
    CaptureWindow window(network, images, gatewayUrl, QStringLiteral("3"));
    Form1& form = window.form;
    TestPlatform& fake = window.fake;
    form.locations().appendMany(places);

    QElapsedTimer clock;
    clock.start();
    form.PushButton17_Click();
    const double seconds = clock.nsecsElapsed() / 1e9;
    const qsizetype written = window.jpgs().size();
    if (written != places.size() || fake.window.boxTexts() != QStringList{QStringLiteral("Done.")}) {
        std::printf("the run failed: %lld of %lld files; %s\n", static_cast<long long>(written),
                    static_cast<long long>(places.size()),
                    qPrintable(fake.window.boxTexts().join(QStringLiteral(" / "))));
        return -1;
    }
    return seconds;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ProviderStandInProcess providers;
    if (providers.baseUrl().isEmpty()) {
        std::printf("the stand-in providers did not start\n");
        return 1;
    }
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("gateway.conf"));
    {
        QSaveFile file(config);
        file.open(QIODevice::WriteOnly);
        const QByteArray base = providers.baseUrl().toUtf8();
        file.write("[gateway]\nsource = tiles\n[tiles]\ngeocoder = " + base +
                   "/search?q={search}&format=json\n");
        file.write("tiles = " + base + "/tiles/{z}/{x}/{y}.png\nattribution = Stand-in Tiles\n");
        // Stand-ins on loopback: no need to space the lookups that fill the cache.
        file.write("geocoder_requests_per_second = 0\n");
        file.write("[limits]\ncache_dir = " + dir.filePath(QStringLiteral("cache")).toUtf8() + "\n");
        file.commit();
    }
    QStringList places;
    for (int i = 1; i <= Locations; ++i)
        places << QStringLiteral("Main St %1, Haverhill MA").arg(i);

    double cold = 0, warm = 0, restarted = 0;
    {
        GatewayProcess gateway({QStringLiteral("--config"), config});
        if (!gateway.isRunning()) {
            std::printf("%s\n", qPrintable(gateway.errorString()));
            return 1;
        }
        cold = run(gateway.baseUrl(), places);
        warm = run(gateway.baseUrl(), places);
    }
    {
        GatewayProcess gateway({QStringLiteral("--config"), config});
        restarted = run(gateway.baseUrl(), places);
    }
    if (cold < 0 || warm < 0 || restarted < 0) {
        return 1;
    }
    std::printf(
        "capture run, %d locations, program -> gateway (tiles) -> stand-in providers, 640x640 PNGs:\n",
        Locations);
    std::printf("  %8.2f s  %8.1f locations/s  cold cache (every place and tile from the providers)\n", cold,
                Locations / cold);
    std::printf("  %8.2f s  %8.1f locations/s  warm cache  (target >= %.0f)\n", warm, Locations / warm,
                Target);
    std::printf("  %8.2f s  %8.1f locations/s  gateway restarted, its disk cache warm\n", restarted,
                Locations / restarted);

    // Zoom 3 in the window is web zoom 15.
    const MapRegion region = writeMapRegion(dir.path(), 15, 24, Locations);
    {
        QSaveFile file(config);
        file.open(QIODevice::WriteOnly);
        file.write("[gateway]\nsource = tiles\n[tiles]\ngeocoder = gazetteer:" + region.places.toUtf8() +
                   "\ntiles = mbtiles:" + region.mbtiles.toUtf8() + "\n");
        file.commit();
    }
    // Three runs, each by a gateway started afresh, so every picture's tiles are new to it. On a
    // shared machine the best run is the one least disturbed by others.
    QList<double> runs;
    double gatewayMs = 0;
    int pictures = 0;
    for (int trial = 0; trial < 3; ++trial) {
        GatewayProcess gateway({QStringLiteral("--config"), config});
        const double seconds = run(gateway.baseUrl(), region.searches);
        if (seconds < 0) {
            return 1;
        }
        runs << seconds;
        // The gateway's log ends each answer's line with the time it took: "... 12 ms".
        for (const QString& line : gateway.log()) {
            const QStringList words = line.split(u' ');
            if (line.contains(QStringLiteral(" /mapdata?")) && words.size() > 2 && words.last() == u"ms") {
                gatewayMs += words[words.size() - 2].toDouble();
                ++pictures;
            }
        }
    }
    std::sort(runs.begin(), runs.end());
    std::printf("capture run, %d locations, program -> gateway -> an MBTiles file and a place file:\n",
                Locations);
    std::printf("  %8.2f s  %8.1f locations/s  best of 3 (target >= %.0f)\n", runs.first(),
                Locations / runs.first(), MapFileTarget);
    std::printf("  %8.2f s  %8.1f locations/s  median\n", runs[1], Locations / runs[1]);
    std::printf("  %8.2f ms a location, of which the gateway's own work on its picture %.2f ms\n",
                1000 * runs[1] / Locations, pictures ? gatewayMs / pictures : 0.0);
    return 0;
}
