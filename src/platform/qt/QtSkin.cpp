#include "platform/qt/QtSkin.h"

#include "platform/PlatformError.h"

#include <QWidget>

void QtSkin::loadSkin(const QString& path, const QString&)
{
    throw PlatformError(QStringLiteral("Cannot load the skin %1: not available yet").arg(path));
}

void QtSkin::applyWindow(QWidget& window)
{
    window.setStyleSheet(m_styleSheet);
}
