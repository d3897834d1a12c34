#include "platform/qt/QtImageFormat.h"

#include "platform/PlatformError.h"

void QtImageFormat::imageToBitmap(const QString& sourcePath, const QString&)
{
    throw PlatformError(QStringLiteral("Cannot convert %1: not available yet").arg(sourcePath));
}

void QtImageFormat::bitmapToJpeg(const QString& bitmapPath, const QString&, int)
{
    throw PlatformError(QStringLiteral("Cannot convert %1: not available yet").arg(bitmapPath));
}
