#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

// The pictures the local map service serves. Drawing needs a QGuiApplication (for the label's font).

// A map-like picture for a search at a zoom level: the same search and zoom always give the
// same picture, and another search or zoom gives a visibly different one.
QImage drawMap(const QString& search, int zoomLevel, QSize size);

// The image as a GIF file (at most 256 colours, exact when the image has no more). Empty when
// the image cannot be encoded.
QByteArray encodeGif(const QImage& image);

// A small, well-formed GIF whose header declares 65535 x 65535 pixels: decoders that trust the
// declared size would try to allocate gigabytes.
QByteArray oversizedGif();
