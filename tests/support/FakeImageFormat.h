#pragma once

#include "platform/ImageFormat.h"

#include <QStringList>

#include <functional>

// Logs every conversion; does what the hooks say (nothing by default).
class FakeImageFormat : public ImageFormat
{
public:
    QStringList calls;
    std::function<void(const QString&, const QString&)> onToBitmap;
    std::function<void(const QString&, const QString&, int)> onToJpeg;

    void imageToBitmap(const QString& source, const QString& bitmap) override
    {
        calls << QStringLiteral("bitmap %1 -> %2").arg(source, bitmap);
        if (onToBitmap)
            onToBitmap(source, bitmap);
    }
    void bitmapToJpeg(const QString& bitmap, const QString& jpeg, int quality) override
    {
        calls << QStringLiteral("jpeg %1 -> %2 at %3").arg(bitmap, jpeg).arg(quality);
        if (onToJpeg)
            onToJpeg(bitmap, jpeg, quality);
    }
};
