#include "platform/qt/QtNetwork.h"

#include "platform/PlatformError.h"

void QtNetwork::downloadToFile(const QString& url, const QString&)
{
    throw PlatformError(QStringLiteral("Cannot fetch %1: not available yet").arg(url));
}

QByteArray QtNetwork::openUrl(const QString& url)
{
    throw PlatformError(QStringLiteral("Cannot fetch %1: not available yet").arg(url));
}
