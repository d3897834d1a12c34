#pragma once

#include <QString>

// The image-format conversions of a capture: a served image to a bitmap file, a bitmap
// file to a JPEG file. Both throw PlatformError when they can't.
class ImageFormat
{
public:
    virtual ~ImageFormat() = default;

    virtual void imageToBitmap(const QString& sourcePath, const QString& bitmapPath) = 0;
    virtual void bitmapToJpeg(const QString& bitmapPath, const QString& jpegPath, int quality) = 0;
};
