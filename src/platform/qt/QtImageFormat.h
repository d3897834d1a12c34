#pragma once

#include "platform/ImageFormat.h"

// Image conversions with Qt's own decoders and encoders. Only the formats a map service serves
// are decoded (GIF, PNG, JPEG, BMP), each by the decoder its first bytes name, and within Qt's
// allocation limit, so a hostile image can neither reach another decoder nor exhaust memory.
// Files are written whole or not at all: an existing file is replaced only by a complete one.
class QtImageFormat : public ImageFormat
{
public:
    QtImageFormat();
    void imageToBitmap(const QString& sourcePath, const QString& bitmapPath) override;
    void bitmapToJpeg(const QString& bitmapPath, const QString& jpegPath, int quality) override;
};
