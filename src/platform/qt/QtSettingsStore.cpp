#include "platform/qt/QtSettingsStore.h"

#include "platform/PlatformError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>

#include <memory>

namespace {

std::unique_ptr<QSettings> open(const QString& app)
{
#ifdef Q_OS_WIN
    auto settings = std::make_unique<QSettings>(
        QStringLiteral("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\") + app,
        QSettings::NativeFormat);
#else
    auto settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, app);
#endif
    // The values are the user's own: one from a system-wide file (/etc/xdg) would be read as
    // if it were theirs, and a store of the same text would then be skipped and never land.
    settings->setFallbacksEnabled(false);
    return settings;
}

QString reason(QSettings::Status status)
{
    return status == QSettings::FormatError
               ? QStringLiteral("the file is damaged")
               : QStringLiteral("it cannot be written (no access, or the disk is full)");
}

// The saved location list can run to many megabytes. Kept in the INI file it would be parsed
// and rewritten at every keystroke in the folder box; in a file of its own it is read at
// start-up and written at the close only. The registry stores each value apart anyway.
bool keptApart(const QString& key)
{
#ifdef Q_OS_WIN
    Q_UNUSED(key);
    return false;
#else
    return key == QLatin1String("Zip Codes");
#endif
}

// <config>/<app>/<section>/<key>.txt, beside the INI file <config>/<app>.conf.
QString apartFile(const QSettings& settings, const QString& app, const QString& section, const QString& key)
{
    return QFileInfo(settings.fileName()).path() + QLatin1Char('/') + app + QLatin1Char('/') + section +
           QLatin1Char('/') + key + QStringLiteral(".txt");
}

// Written beside and moved into place, so that a crash leaves the old list or the new one,
// never a part of either.
void writeApart(const QString& path, const QString& value)
{
    const QString shown = QDir::toNativeSeparators(path);
    if (!QDir().mkpath(QFileInfo(path).path()))
        throw PlatformError(QStringLiteral("The folder for %1 cannot be made").arg(shown));
    QSaveFile file(path);
    const QByteArray bytes = value.toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw PlatformError(
            QStringLiteral("The settings could not be saved to %1: %2").arg(shown, file.errorString()));
}

// Once the list is safely in its own file, the copy an earlier version left in the INI file
// goes, so that the INI file is small again.
void dropOldCopy(QSettings& settings, const QString& name)
{
    if (settings.status() != QSettings::NoError || !settings.contains(name))
        return;
    settings.remove(name);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        throw PlatformError(
            QStringLiteral("The settings could not be saved to %1: %2")
                .arg(QDir::toNativeSeparators(settings.fileName()), reason(settings.status())));
}

} // namespace

QString QtSettingsStore::location(const QString& app)
{
    return open(app)->fileName();
}

QString QtSettingsStore::location(const QString& app, const QString& section, const QString& key)
{
    const auto settings = open(app);
    return keptApart(key) ? apartFile(*settings, app, section, key) : settings->fileName();
}

QString QtSettingsStore::read(const QString& app, const QString& section, const QString& key,
                              const QString& defaultValue)
{
    const auto settings = open(app);
    // Defaults read from a store we could not read would overwrite the user's values at the
    // next store; better to fail the statement that asked.
    if (settings->status() == QSettings::AccessError)
        throw PlatformError(QStringLiteral("The settings in %1 cannot be read").arg(settings->fileName()));
    const QString name = section + QLatin1Char('/') + key;
    if (keptApart(key)) {
        const QString path = apartFile(*settings, app, section, key);
        QFile file(path);
        if (file.exists()) {
            if (!file.open(QIODevice::ReadOnly))
                throw PlatformError(QStringLiteral("The settings in %1 cannot be read: %2")
                                        .arg(QDir::toNativeSeparators(path), file.errorString()));
            const QString text = QString::fromUtf8(file.readAll());
            // A close cut off between writing this file and tidying the INI file.
            try {
                dropOldCopy(*settings, name);
            } catch (const PlatformError&) {
            }
            return text;
        }
    }
    const QVariant value = settings->value(name);
    // A stored empty text is a value of its own; only a missing key takes the default.
    if (!value.isValid())
        return defaultValue;
    const QString text = value.toString();
    if (keptApart(key)) {
        // A list an earlier version kept in the INI file moves to its own file now, so that
        // typing in this very session does not rewrite it. Should that fail, it stays where it
        // is and is still found there.
        try {
            writeApart(apartFile(*settings, app, section, key), text);
            dropOldCopy(*settings, name);
        } catch (const PlatformError&) {
        }
    }
    return text;
}

void QtSettingsStore::store(const QString& app, const QString& section, const QString& key,
                            const QString& value)
{
    const auto settings = open(app);
    const QString name = section + QLatin1Char('/') + key;
    if (keptApart(key)) {
        writeApart(apartFile(*settings, app, section, key), value);
        dropOldCopy(*settings, name);
        return;
    }
    // Every write rewrites the whole file; a value the user's file already holds (start-up
    // restoring the boxes) need not cost that.
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
