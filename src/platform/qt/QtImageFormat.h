#pragma once

#include "platform/ImageFormat.h"

class QtImageFormat : public ImageFormat
{
public:
    void imageToBitmap(const QString& sourcePath, const QString& bitmapPath) override;
    void bitmapToJpeg(const QString& bitmapPath, const QString& jpegPath, int quality) override;
};
