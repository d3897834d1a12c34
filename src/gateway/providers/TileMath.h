#pragma once

#include <QList>
#include <QPoint>
#include <QSize>

// Which XYZ tiles a picture centred on a place needs, and where each goes. Web Mercator, tiles
// numbered from the north-west corner. The picture keeps the scale of 256-pixel tiles at the
// asked zoom (the world is 256 * 2^zoom pixels wide): 512-pixel tiles are taken one zoom level
// lower, which covers the same ground with the same detail.
struct TileId
{
    int z = 0;
    int x = 0;
    int y = 0;
    friend bool operator==(const TileId&, const TileId&) = default;
};
size_t qHash(const TileId& id, size_t seed = 0);

struct TilePlacement
{
    TileId tile;    // x wrapped into the world
    QPoint topLeft; // where the tile's top-left corner lands in the picture
};

struct TileCoverage
{
    int tileSize = 256;
    QList<TilePlacement> placements; // rows outside the world (north or south of it) left out
    QList<TileId> tiles;             // each distinct tile once, in the order first placed

    // World wrap: the same tile may be placed more than once when the world is narrower than
    // the picture.
};

// Web-map zoom 0..22; latitudes beyond Web Mercator's +-85.05 degrees are held at its edge.
TileCoverage tileCoverage(double latitude, double longitude, int zoom, int tileSize, QSize picture);

// The same for tiles of zoom level tileZoom drawn drawnSize pixels wide: a picture drawn from
// tiles of a coarser level, each scaled up, keeps the scale of the finer one.
TileCoverage tileCoverageAt(double latitude, double longitude, int tileZoom, int drawnSize, QSize picture);
