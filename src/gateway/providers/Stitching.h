#pragma once

#include "TileMath.h"

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QSize>
#include <QString>

// Draws the placed tiles into one picture of the given size; what no tile covers (beyond the
// poles) is background. attribution, when not empty, is drawn in the bottom-right corner on a
// light band, as tile licences ask. Needs a QGuiApplication (fonts).
QImage stitchTiles(const TileCoverage& coverage, const QHash<TileId, QImage>& tiles, QSize size,
                   const QString& attribution);

// The same with the attribution drawn beforehand by attributionBand: safe on any thread.
QImage stitchTilesWithBand(const TileCoverage& coverage, const QHash<TileId, QImage>& tiles, QSize size,
                           const QImage& band);

// The attribution's light band with its text, for the bottom-right corner of a picture this
// wide; null for no attribution. Kept once made. Only on the GUI thread (fonts).
QImage attributionBand(const QString& attribution, int width);

// A decoded tile in the 32-bit pixels pictures are drawn in. Palette and grey tiles are converted
// once, as they are decoded, on every processor, rather than for each picture that draws them.
QImage asDrawn(QImage tile);

// The picture as an RGB PNG, favouring speed over size; empty when it cannot be written.
// Compressed at zlib's fastest level, or not at all (level 0) for a picture nobody keeps: over
// loopback the larger answer costs less than compressing it.
QByteArray encodePng(const QImage& image, int level = 1);

// Keeps the memory of a finished picture in the process for the next one, where by default it is
// given back at once and faulted in again, page by page, for each picture: about half the time
// of an unpacked encode. Called once, at start, by a process that makes pictures.
void keepPictureMemory();
