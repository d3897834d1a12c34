#include "platform/qt/QtSettingsStore.h"

#include "platform/PlatformError.h"

#include <QSettings>

#include <memory>

namespace {

std::unique_ptr<QSettings> open(const QString& app)
{
#ifdef Q_OS_WIN
    return std::make_unique<QSettings>(
        QStringLiteral("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\") + app,
        QSettings::NativeFormat);
#else
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, app);
#endif
}

QString reason(QSettings::Status status)
{
    return status == QSettings::FormatError
               ? QStringLiteral("the file is damaged")
               : QStringLiteral("it cannot be written (no access, or the disk is full)");
}

} // namespace

QString QtSettingsStore::location(const QString& app)
{
    return open(app)->fileName();
}

QString QtSettingsStore::read(const QString& app, const QString& section, const QString& key,
                              const QString& defaultValue)
{
    const auto settings = open(app);
    // Defaults read from a store we could not read would overwrite the user's values at the
    // next store; better to fail the statement that asked.
    if (settings->status() == QSettings::AccessError)
        throw PlatformError(QStringLiteral("The settings in %1 cannot be read").arg(settings->fileName()));
    const QVariant value = settings->value(section + QLatin1Char('/') + key);
    // A stored empty text is a value of its own; only a missing key takes the default.
    return value.isValid() ? value.toString() : defaultValue;
}

void QtSettingsStore::store(const QString& app, const QString& section, const QString& key,
                            const QString& value)
{
    const auto settings = open(app);
    const QString name = section + QLatin1Char('/') + key;
    // Every write rewrites the whole file, saved list and all; a value that is already
    // there (start-up restoring the boxes) need not cost that.
    if (settings->status() == QSettings::NoError) {
        const QVariant current = settings->value(name);
        if (current.isValid() && current.typeId() == QMetaType::QString && current.toString() == value)
            return;
    }
    settings->setValue(name, value);
    // The caller relies on the value being on disk when this returns.
    settings->sync();
    if (settings->status() != QSettings::NoError)
        throw PlatformError(QStringLiteral("The setting \"%1\" could not be saved to %2: %3")
                                .arg(key, settings->fileName(), reason(settings->status())));
}
