#include "TileMath.h"

#include <QHashFunctions>

#include <algorithm>
#include <cmath>
#include <numbers>

size_t qHash(const TileId& id, size_t seed)
{
    return qHashMulti(seed, id.z, id.x, id.y);
}

namespace {

constexpr double MaxLatitude = 85.0511287798066;

qint64 floorDiv(qint64 a, qint64 b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

} // namespace

TileCoverage tileCoverage(double latitude, double longitude, int zoom, int tileSize, QSize picture)
{
    zoom = std::clamp(zoom, 0, 22);
    return tileCoverageAt(latitude, longitude, tileSize >= 512 ? std::max(0, zoom - 1) : zoom, tileSize,
                          picture);
}

TileCoverage tileCoverageAt(double latitude, double longitude, int tileZoom, int tileSize, QSize picture)
{
    TileCoverage out;
    out.tileSize = tileSize;
    tileZoom = std::clamp(tileZoom, 0, 22);
    const qint64 tilesAcross = qint64(1) << tileZoom;
    const double world = double(tilesAcross) * tileSize;

    const double lat = std::clamp(latitude, -MaxLatitude, MaxLatitude) * std::numbers::pi / 180;
    const double lon = std::remainder(longitude, 360.0);
    const double cx = (lon + 180) / 360 * world;
    const double cy = (1 - std::asinh(std::tan(lat)) / std::numbers::pi) / 2 * world;

    const qint64 left = std::llround(cx - picture.width() / 2.0);
    const qint64 top = std::llround(cy - picture.height() / 2.0);
    const qint64 firstColumn = floorDiv(left, tileSize);
    const qint64 lastColumn = floorDiv(left + picture.width() - 1, tileSize);
    const qint64 firstRow = std::max<qint64>(0, floorDiv(top, tileSize));
    const qint64 lastRow = std::min<qint64>(tilesAcross - 1, floorDiv(top + picture.height() - 1, tileSize));

    for (qint64 row = firstRow; row <= lastRow; ++row) {
        for (qint64 column = firstColumn; column <= lastColumn; ++column) {
            const qint64 x = ((column % tilesAcross) + tilesAcross) % tilesAcross;
            const TileId id{tileZoom, int(x), int(row)};
            out.placements.append({id, QPoint(int(column * tileSize - left), int(row * tileSize - top))});
            if (!out.tiles.contains(id)) {
                out.tiles.append(id);
            }
        }
    }
    return out;
}
