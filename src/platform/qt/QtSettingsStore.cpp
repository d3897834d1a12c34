#include "platform/qt/QtSettingsStore.h"

#include "platform/PlatformError.h"

#include <QSettings>

namespace {

// Lists saved by earlier Windows versions of the program live under this registry key;
// elsewhere a per-user INI file named after the application holds them.
QSettings open(const QString& app)
{
#ifdef Q_OS_WIN
    return QSettings(QStringLiteral("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\") + app,
                     QSettings::NativeFormat);
#else
    return QSettings(QSettings::IniFormat, QSettings::UserScope, app);
#endif
}

} // namespace

QString QtSettingsStore::read(const QString& app, const QString& section, const QString& key,
                              const QString& defaultValue)
{
    QSettings settings = open(app);
    const QVariant value = settings.value(section + QLatin1Char('/') + key);
    return value.isValid() ? value.toString() : defaultValue;
}

void QtSettingsStore::store(const QString& app, const QString& section, const QString& key,
                            const QString& value)
{
    QSettings settings = open(app);
    settings.setValue(section + QLatin1Char('/') + key, value);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        throw PlatformError(
            QStringLiteral("The setting \"%1\" could not be saved to %2").arg(key, settings.fileName()));
}
