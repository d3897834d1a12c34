// The provider side of the gateway: stitching tiles into a picture, and a picture's time with a
// warm cache, for the tiles and the static source, against stand-in providers on loopback.
#include "Clocks.h"
#include "GatewayConfig.h"
#include "MapRegion.h"
#include "Pictures.h"
#include "ProviderSources.h"
#include "ProviderStandIn.h"
#include "Stitching.h"
#include "TileMath.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThreadPool>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int Rounds = 60;

using bench::cpuMs;
using bench::median;
using bench::threadCpuMs;

// A place on a tile corner needs 16 tiles, one at a tile's centre 9.
void stitching(double latitude, double longitude, bool palette)
{
    const TileCoverage coverage = tileCoverage(latitude, longitude, 10, 256, QSize(640, 640));
    QHash<TileId, QByteArray> encoded;
    int seed = 1;
    qsizetype tileBytes = 0;
    for (const TileId& id : coverage.tiles) {
        encoded.insert(id, busyTile(seed++, palette));
        tileBytes += encoded.value(id).size();
    }
    const QList<TileId> ids = encoded.keys();
    // As the tiles source decodes tiles from its cache: checked and decoded on every processor.
    const auto decodeAll = [&] {
        QList<QImage> images(ids.size());
        QImage* out = images.data();
        inParallel(ids.size(), [&](qsizetype i) {
            out[i] = asDrawn(checkPicture(encoded.value(ids[i]), "image/png", QSize(1024, 1024),
                                          Reasons::Who::MapProvider, true)
                                 .image);
        });
        QHash<TileId, QImage> tiles;
        for (qsizetype i = 0; i < ids.size(); ++i) {
            tiles.insert(ids[i], images[i]);
        }
        return tiles;
    };
    QList<double> decode, stitch, encode, whole, stitchCpu, encodeCpu, pack;
    qsizetype bytes = 0, packedBytes = 0;
    const double cpuBefore = cpuMs();
    for (int round = 0; round < Rounds; ++round) {
        QElapsedTimer clock;
        clock.start();
        const QHash<TileId, QImage> tiles = decodeAll();
        const double t1 = clock.nsecsElapsed() / 1e6;
        const double c1 = threadCpuMs();
        const QImage picture =
            stitchTiles(coverage, tiles, QSize(640, 640), QStringLiteral("© Stand-in Tiles"));
        const double t2 = clock.nsecsElapsed() / 1e6;
        const double c2 = threadCpuMs();
        bytes = encodePng(picture, 0).size();
        const double t3 = clock.nsecsElapsed() / 1e6;
        const double c3 = threadCpuMs();
        // The copy the cache keeps, packed once the answer has gone.
        packedBytes = encodePng(picture, 1).size();
        pack << clock.nsecsElapsed() / 1e6 - t3;
        stitchCpu << c2 - c1;
        encodeCpu << c3 - c2;
        decode << t1;
        stitch << t2 - t1;
        encode << t3 - t2;
        whole << t3;
    }
    std::printf("%lld %s tiles of 256 px (%lld KB each) in, one 640x640 PNG out (median of %d, "
                "%d threads):\n",
                static_cast<long long>(ids.size()), palette ? "palette" : "true-colour",
                static_cast<long long>(tileBytes / ids.size() / 1024), Rounds,
                QThreadPool::globalInstance()->maxThreadCount());
    std::printf("  %6.2f ms  decode the tiles (in parallel)\n", median(decode));
    std::printf("  %6.2f ms  draw the tiles and the attribution (processor %.2f ms)\n", median(stitch),
                median(stitchCpu));
    std::printf("  %6.2f ms  encode the PNG, %lld KiB (processor %.2f ms)\n", median(encode),
                static_cast<long long>(bytes / 1024), median(encodeCpu));
    std::printf("  %6.2f ms  the whole path  (target <= 12)\n", median(whole));
    std::printf("  %6.2f ms  after the answer: the copy to keep packed, %lld KiB\n", median(pack),
                static_cast<long long>(packedBytes / 1024));
    std::printf("  %6.2f ms  processor time a picture, all threads\n", (cpuMs() - cpuBefore) / Rounds);

    // The same tiles through a short Pillow script, at its fastest compression and with none.
    QTemporaryDir dir;
    QStringList placed;
    for (const TilePlacement& p : coverage.placements) {
        const QString path = dir.filePath(QStringLiteral("%1-%2.png").arg(p.tile.x).arg(p.tile.y));
        QFile file(path);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(encoded.value(p.tile));
        }
        placed << path << QString::number(p.topLeft.x()) << QString::number(p.topLeft.y());
    }
    // The script in that many processes at once: the median time of one picture, and the
    // pictures a second of all together.
    const auto pillow = [&](int level, int processes) {
        std::vector<std::unique_ptr<QProcess>> peers;
        for (int i = 0; i < processes; ++i) {
            peers.push_back(std::make_unique<QProcess>());
            peers.back()->start(QStringLiteral("/usr/bin/python3"),
                                QStringList{QStringLiteral(ORROWDALE_BENCH_DIR "/peer_stitch.py"),
                                            QString::number(Rounds), QString::number(level)} +
                                    placed);
        }
        double perSecond = 0, ms = 0;
        for (const auto& peer : peers) {
            peer->waitForFinished(300'000);
            ms = peer->readAllStandardOutput().trimmed().toDouble();
            if (peer->exitCode() != 0 || ms <= 0) {
                return std::pair<double, double>{0, 0};
            }
            perSecond += 1000 / ms;
        }
        return std::pair{ms, perSecond};
    };
    for (int level : {1, 0}) {
        const double ms = pillow(level, 1).first;
        if (ms <= 0) {
            std::printf("  Pillow could not be run (Debian's python3-pil)\n");
            return;
        }
        std::printf("  %6.2f ms  the whole path in Pillow, compress_level=%d, one thread\n", ms, level);
    }

    // Four in flight, each picture on a worker thread as the tiles source makes them: only the
    // processor work of a picture whose tiles are in memory, where one picture alone already
    // decodes on every processor. The gateway's whole path is measured by bench_mapfiles.
    const QImage band = attributionBand(QStringLiteral("© Stand-in Tiles"), 640);
    QSemaphore inFlight(4);
    QElapsedTimer clock;
    clock.start();
    for (int round = 0; round < Rounds; ++round) {
        inFlight.acquire();
        QThreadPool::globalInstance()->start([&] {
            encodePng(stitchTilesWithBand(coverage, decodeAll(), QSize(640, 640), band), 0);
            inFlight.release();
        });
    }
    QThreadPool::globalInstance()->waitForDone();
    const double fourPerSecond = Rounds * 1000 / (clock.nsecsElapsed() / 1e6);
    std::printf("  %6.1f pictures/s  4 in flight, against %.1f one at a time; Pillow in 4 processes at once: "
                "%.1f (compress_level=1)\n",
                fourPerSecond, 1000 / median(whole), pillow(1, 4).second);
}

double renderMs(MapSource& source, const QString& search, int zoom)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    int status = 0;
    source.render(MapRequest{search, zoom, {640, 640}}, QDeadlineTimer(20'000), [&](const MapAnswer& a) {
        status = a.status;
        loop.quit();
    });
    if (status == 0) {
        loop.exec();
    }
    if (status != 200) {
        std::printf("a picture failed with %d\n", status);
        std::exit(1);
    }
    return clock.nsecsElapsed() / 1e6;
}

void warmCache(ProviderStandIn& standIn)
{
    QTemporaryDir cache;
    // Named providers too: MapTiler (a geocoder, then a picture with the provider's pin) and Stadia
    // (the gateway draws the pin on the provider's picture).
    for (const char* kind : {"static", "tiles", "maptiler", "stadia"}) {
        GatewayConfig c;
        c.cacheDirectory = cache.path();
        c.geocoderRequestsPerSecond = 0;
        const bool tiles = QByteArrayView(kind) == "tiles";
        c.source = tiles ? GatewayConfig::Source::Tiles : GatewayConfig::Source::Static;
        if (!tiles && QByteArrayView(kind) != "static") {
            c.source = GatewayConfig::Source::Preset;
            c.preset = QString::fromLatin1(kind);
            c.server = standIn.baseUrl();
            c.key = QStringLiteral("bench");
        }
        c.staticUrl = standIn.staticTemplate();
        c.geocoderUrl = standIn.nominatimTemplate();
        c.tileUrl = standIn.tileTemplate();
        c.attribution = QStringLiteral("© Stand-in Tiles");

        QList<double> cold, warm, restarted;
        double warmCpu = 0;
        double restartedCpu = 0;
        for (int i = 0; i < 20; ++i) {
            const QString place = QStringLiteral("Main St %1, Haverhill MA").arg(i);
            {
                const auto source = createProviderSource(c);
                cold << renderMs(*source, place, 15);
                const double before = cpuMs();
                warm << renderMs(*source, place, 15);
                warmCpu += cpuMs() - before;
            }
            // A new source on the same disk cache, as after the gateway restarts.
            const auto again = createProviderSource(c);
            const double before = cpuMs();
            restarted << renderMs(*again, place, 15);
            restartedCpu += cpuMs() - before;
        }
        std::printf("%s source, a 640x640 picture at zoom 15 (median of 20 places):\n", kind);
        std::printf("  %6.2f ms  cold: the provider asked for everything\n", median(cold));
        std::printf("  %6.2f ms  warm: asked again (processor %.2f ms)\n", median(warm), warmCpu / 20);
        std::printf("  %6.2f ms  warm disk cache after a restart (processor %.2f ms)\n", median(restarted),
                    restartedCpu / 20);
    }
    std::printf("  (target: the gateway's own time <= 5 ms beyond the provider's)\n");
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    keepPictureMemory(); // as the gateway does at start
    stitching(0, 0, false);
    stitching(0, 0, true);
    stitching(-0.1757809, 0.17578125, true);
    ProviderStandIn standIn;
    if (!standIn.listen()) {
        std::printf("the stand-in providers cannot listen\n");
        return 1;
    }
    warmCache(standIn);
    return 0;
}
