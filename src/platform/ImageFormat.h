#pragma once

#include <QString>

// The image-format conversions of a capture: a served image to a bitmap file, a bitmap
// file to a JPEG file. Both throw PlatformError when they can't, and when a path holds a
// character no file name can have. The file written replaces what was at its path, whole or
// not at all; a link at that path is replaced, never written through.
class ImageFormat
{
public:
    virtual ~ImageFormat() = default;

    virtual void imageToBitmap(const QString& sourcePath, const QString& bitmapPath) = 0;
    virtual void bitmapToJpeg(const QString& bitmapPath, const QString& jpegPath, int quality) = 0;
};
