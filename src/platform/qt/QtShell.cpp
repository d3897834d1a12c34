#include "platform/qt/QtShell.h"

#include "platform/PlatformError.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

QString QtShell::programFolder() const
{
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}

QString QtShell::desktopFolder() const
{
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (desktop.isEmpty())
        throw PlatformError(QStringLiteral("The desktop folder cannot be determined"));
    return QDir::toNativeSeparators(desktop);
}

QString QtShell::environment(const QString& name) const
{
    return qEnvironmentVariable(name.toLocal8Bit().constData());
}
