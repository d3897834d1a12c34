#pragma once

// A map region on disk for the benchmarks: an MBTiles file of busy tiles (roads, blocks,
// labels, like a street map's) around Haverhill MA at one zoom, and a CSV of places inside it.
#include "gateway/providers/MapFileWriter.h"

#include <QBuffer>
#include <QPainter>
#include <QRandomGenerator>
#include <QSaveFile>

#include <cmath>
#include <numbers>

// A tile with the detail of a street map, so PNG has work to do. palette: as tile servers send
// them (about 22 KB), rather than true colour.
inline QImage busyTileImage(int seed, int size = 256)
{
    QRandomGenerator random(seed);
    QImage tile(size, size, QImage::Format_RGB32);
    tile.fill(QColor(0xf2, 0xef, 0xe9));
    QPainter p(&tile);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 40; ++i) {
        p.fillRect(QRect(random.bounded(size), random.bounded(size), 10 + random.bounded(40),
                         10 + random.bounded(40)),
                   QColor(0xd9, 0xd0, 0xc9));
    }
    for (int i = 0; i < 30; ++i) {
        p.setPen(QPen(i % 5 ? QColor(Qt::white) : QColor(0xf7, 0xfa, 0xbf), 2 + random.bounded(6)));
        p.drawLine(random.bounded(size), random.bounded(size), random.bounded(size), random.bounded(size));
    }
    p.setPen(QColor(0x55, 0x55, 0x55));
    for (int i = 0; i < 6; ++i) {
        p.drawText(random.bounded(size - 56), random.bounded(size - 6), QStringLiteral("Street %1").arg(i));
    }
    p.end();
    return tile;
}

inline QByteArray busyTile(int seed, bool palette = false)
{
    QImage tile = busyTileImage(seed);
    if (palette) {
        tile = tile.convertToFormat(QImage::Format_Indexed8);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    tile.save(&buffer, "png");
    return bytes;
}

struct MapRegion
{
    QString mbtiles;
    QString places; // CSV of name,lat,lon
    QStringList searches;
};

// tilesAcross x tilesAcross palette tiles at zoom, and count places at least two tiles inside
// the edge, so that every 640 x 640 picture of them is whole. apart: on a grid four tiles apart,
// so that no two pictures share a tile (tilesAcross must hold the grid), else at random.
inline MapRegion writeMapRegion(const QString& folder, int zoom, int tilesAcross, int count,
                                bool apart = false)
{
    MapRegion region{folder + QStringLiteral("/region.mbtiles"), folder + QStringLiteral("/places.csv"), {}};
    const double n = double(1 << zoom);
    const auto column = [&](double lon) { return (lon + 180) / 360 * n; };
    const auto row = [&](double lat) {
        const double r = lat * std::numbers::pi / 180;
        return (1 - std::asinh(std::tan(r)) / std::numbers::pi) / 2 * n;
    };
    const auto longitude = [&](double x) { return x / n * 360 - 180; };
    const auto latitude = [&](double y) {
        return std::atan(std::sinh(std::numbers::pi * (1 - 2 * y / n))) * 180 / std::numbers::pi;
    };
    const int left = int(column(-71.0773)) - tilesAcross / 2, top = int(row(42.7762)) - tilesAcross / 2;

    QList<QByteArray> pool;
    for (int i = 0; i < 24; ++i) {
        pool << busyTile(i + 1, true);
    }
    MapFile file;
    file.zooms = {zoom};
    file.area = QRect(left, top, tilesAcross, tilesAcross);
    file.attribution = QStringLiteral("Map data: Test Survey");
    file.bounds = QStringLiteral("%1,%2,%3,%4")
                      .arg(longitude(left))
                      .arg(latitude(top + tilesAcross))
                      .arg(longitude(left + tilesAcross))
                      .arg(latitude(top));
    file.draw = [&](int, int x, int y, int) {
        return QImage::fromData(pool[(x * 7 + y * 13) % pool.size()]);
    };
    writeMapFile(region.mbtiles, file);

    QRandomGenerator random(4711);
    QByteArray csv = "name,lat,lon\n";
    for (int i = 1; i <= count; ++i) {
        const int across = (tilesAcross - 4) / 4;
        const double x = apart ? left + 4 + 4 * ((i - 1) % across) + 0.3
                               : left + 2 + random.generateDouble() * (tilesAcross - 4);
        const double y = apart ? top + 4 + 4 * ((i - 1) / across) + 0.6
                               : top + 2 + random.generateDouble() * (tilesAcross - 4);
        region.searches << QStringLiteral("Place %1").arg(i);
        csv += region.searches.last().toUtf8() + ',' + QByteArray::number(latitude(y), 'f', 6) + ',' +
               QByteArray::number(longitude(x), 'f', 6) + '\n';
    }
    QSaveFile places(region.places);
    places.open(QIODevice::WriteOnly);
    places.write(csv);
    places.commit();
    return region;
}
