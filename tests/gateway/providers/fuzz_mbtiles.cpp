// libFuzzer target for the map file reader: any bytes, taken as an MBTiles file, are either
// refused with a reason naming the file or read, tiles and all, without a crash or a leak.
// Run with --seeds DIR first to write small, good map files to start from.
#include "MapFileWriter.h"
#include "MbTiles.h"
#include "Pictures.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

// Made once and never destroyed: libFuzzer ends the process with exit(), after Qt's own globals.
QCoreApplication* app = nullptr;
QByteArray scratch; // the file each input is written to, removed at exit

void removeScratch()
{
    ::unlink(scratch.constData());
}

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "map file reader: %s\n", what);
    std::abort();
}

void writeSeeds(const QString& folder)
{
    QDir().mkpath(folder);
    MapFile small;
    small.zooms = {0, 1};
    writeMapFile(folder + QStringLiteral("/seed-tiles.mbtiles"), small);
    small.mapAndImages = true;
    small.bounds = QStringLiteral("-10,-10,10,10");
    small.attribution = QStringLiteral("Seed");
    writeMapFile(folder + QStringLiteral("/seed-map-images.mbtiles"), small);
    MapFile large;
    large.tileSize = 512;
    large.zooms = {0};
    large.format = "JPG";
    writeMapFile(folder + QStringLiteral("/seed-512-jpg.mbtiles"), large);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    app = new QCoreApplication(*argc, *argv);
    if (*argc == 3 && std::strcmp((*argv)[1], "--seeds") == 0) {
        writeSeeds(QString::fromLocal8Bit((*argv)[2]));
        std::_Exit(0);
    }
    scratch = QFile::encodeName(
        QDir::tempPath() +
        QStringLiteral("/orrowdale-fuzz-%1.mbtiles").arg(QCoreApplication::applicationPid()));
    std::atexit(removeScratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString path = QFile::decodeName(scratch);
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            fail("cannot write the scratch file");
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    MbTilesFile map(path);
    const QString problem = map.open();
    if (!problem.isEmpty()) {
        if (!problem.startsWith(QStringLiteral("The map file \"%1\" ").arg(map.fileName())))
            fail("a reason that does not name the file");
        return 0;
    }
    if (map.tileSize() != 256 && map.tileSize() != 512)
        fail("a tile size other than 256 or 512");
    if (map.minZoom() < 0 || map.maxZoom() > 22 || map.minZoom() > map.maxZoom())
        fail("zooms out of order");
    // The first few tiles of the first levels, read and decoded as a picture would need them.
    for (int z = map.minZoom(); z <= std::min(map.maxZoom(), map.minZoom() + 1); ++z) {
        for (int i = 0; i < std::min(4, 1 << (2 * z)); ++i) {
            QString tileProblem;
            const QByteArray tile = map.tile(TileId{z, i % (1 << z), i / (1 << z)}, &tileProblem);
            if (!tileProblem.isEmpty()) {
                if (!tileProblem.startsWith(QStringLiteral("The map file \"%1\" ").arg(map.fileName())))
                    fail("a tile reason that does not name the file");
                return 0;
            }
            if (!tile.isEmpty())
                checkPicture(tile, {}, QSize(1024, 1024), Reasons::Who::MapProvider, true);
        }
    }
    return 0;
}
