#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

// Decodes the PNGs tile servers and map files mostly hold (8 bits a sample: palette, RGB or RGBA;
// not interlaced; no colour space named) in one piece, as Format_RGB32, or Format_ARGB32 when the picture has
// transparency. libpng, under Qt's reader, inflates a row at a time, and the row of a 256-pixel
// palette tile is one byte short of what zlib needs for its fast path: whole, such a tile is
// decoded in a quarter of the time.
//
// Null for any other PNG, and for anything that is not a faultless PNG no larger than maxSize:
// those are left to Qt's reader, which decides what to make of them.
QImage decodeWholePng(const QByteArray& png, QSize maxSize);
