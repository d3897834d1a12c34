#pragma once

#include "MapDrawing.h"

#include <QByteArray>
#include <QImage>

// The GIF files the local map service serves; the pictures themselves come from drawMap().

// The image as a GIF file (at most 256 colours, exact when the image has no more). Empty when
// the image cannot be encoded.
QByteArray encodeGif(const QImage& image);

// A small, well-formed GIF whose header declares 65535 x 65535 pixels: decoders that trust the
// declared size would try to allocate gigabytes.
QByteArray oversizedGif();
