#include "platform/qt/QtSettingsStore.h"

#include "platform/Files.h"
#include "platform/PlatformError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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

QString shown(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

#ifdef Q_OS_WIN

QString reason(QSettings::Status status)
{
    return status == QSettings::FormatError
               ? QStringLiteral("the file is damaged")
               : QStringLiteral("it cannot be written (no access, or the disk is full)");
}

// The registry keeps each value apart already: a store writes that value alone.
QString readValue(const QString& app, const QString& section, const QString& key, const QString& defaultValue)
{
    const auto settings = open(app);
    if (settings->status() == QSettings::AccessError)
        throw PlatformError(QStringLiteral("The settings in %1 cannot be read").arg(settings->fileName()));
    const QVariant value = settings->value(section + QLatin1Char('/') + key);
    return value.isValid() ? value.toString() : defaultValue;
}

void storeValue(const QString& app, const QString& section, const QString& key, const QString& value)
{
    const auto settings = open(app);
    const QString name = section + QLatin1Char('/') + key;
    if (settings->status() == QSettings::NoError) {
        const QVariant current = settings->value(name);
        if (current.isValid() && current.typeId() == QMetaType::QString && current.toString() == value)
            return;
    }
    settings->setValue(name, value);
    settings->sync();
    if (settings->status() != QSettings::NoError)
        throw PlatformError(QStringLiteral("The setting \"%1\" could not be saved to %2: %3")
                                .arg(key, settings->fileName(), reason(settings->status())));
}

#else

// Each value is a UTF-8 text file of its own, <config>/<app>/<section>/<key>.txt. An INI file
// holding them all would be parsed and rewritten whole at every keystroke in the folder box,
// the saved list of a million locations included.
QString valueFolder(const QString& app, const QString& section)
{
    return QFileInfo(open(app)->fileName()).path() + QLatin1Char('/') + app + QLatin1Char('/') + section;
}

QString valueFile(const QString& app, const QString& section, const QString& key)
{
    return valueFolder(app, section) + QLatin1Char('/') + key + QStringLiteral(".txt");
}

// The saved list: written once, at the close, and too precious to leave to the disk's cache.
bool flushedToDisk(const QString& key)
{
    return key == QLatin1String("Zip Codes");
}

// A new file moved into place: a crash leaves the old value or the new one, never a part.
// flush waits until the disk holds it, for a value that exists nowhere else.
void writeValue(const QString& path, const QString& key, const QByteArray& bytes, bool flush)
{
    if (!QDir().mkpath(QFileInfo(path).path()))
        throw PlatformError(QStringLiteral("The folder for %1 cannot be made").arg(shown(path)));
    auto failed = [&](const QString& why) {
        return PlatformError(
            QStringLiteral("The setting \"%1\" could not be saved to %2: %3").arg(key, shown(path), why));
    };
    // One keystroke's store does not wait for the disk: that would take longer than the keystroke.
    const auto kind = flush || flushedToDisk(key) ? ReplacingFile::Kind::Result : ReplacingFile::Kind::Work;
    try {
        WriteWholeFile(path, kind, [&](QIODevice& device) {
            if (device.write(bytes) != bytes.size())
                throw PlatformError(device.errorString());
        });
    } catch (const PlatformError& e) {
        throw failed(e.description());
    }
}

// Values an earlier version kept in the INI file <config>/<app>.conf move to files of their
// own, all at once, and leave the INI file then. A value whose file exists already is newer
// (a move cut off half-way). Should the move fail, the INI file keeps them and they are read
// from there.
void moveFromIni(QSettings& settings, const QString& app, const QString& section)
{
    if (settings.status() != QSettings::NoError)
        return;
    settings.beginGroup(section);
    const QStringList keys = settings.childKeys();
    if (keys.isEmpty()) {
        settings.endGroup();
        return;
    }
    try {
        for (const QString& key : keys) {
            const QString path = valueFile(app, section, key);
            // The INI file loses them next, so these must be on the disk first.
            if (!QFileInfo::exists(path))
                writeValue(path, key, settings.value(key).toString().toUtf8(), true);
        }
    } catch (const PlatformError&) {
        settings.endGroup();
        return;
    }
    for (const QString& key : keys)
        settings.remove(key);
    settings.endGroup();
    settings.sync();
}

QString readValue(const QString& app, const QString& section, const QString& key, const QString& defaultValue)
{
    const auto settings = open(app);
    // Defaults read from a store we could not read would overwrite the user's values at the
    // next store; better to fail the statement that asked.
    if (settings->status() == QSettings::AccessError)
        throw PlatformError(QStringLiteral("The settings in %1 cannot be read").arg(settings->fileName()));
    moveFromIni(*settings, app, section);
    const QString path = valueFile(app, section, key);
    QFile file(path);
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly))
            throw PlatformError(
                QStringLiteral("The settings in %1 cannot be read: %2").arg(shown(path), file.errorString()));
        const QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            throw PlatformError(
                QStringLiteral("The settings in %1 cannot be read: %2").arg(shown(path), file.errorString()));
        return QString::fromUtf8(bytes);
    }
    // Still in the INI file when it could not be moved.
    const QVariant value = settings->value(section + QLatin1Char('/') + key);
    return value.isValid() ? value.toString() : defaultValue;
}

void storeValue(const QString& app, const QString& section, const QString& key, const QString& value)
{
    {
        const auto settings = open(app);
        moveFromIni(*settings, app, section);
    }
    const QString path = valueFile(app, section, key);
    const QByteArray bytes = value.toUtf8();
    // Nothing to write when the user's own file holds the value already (start-up restoring
    // the boxes, a close with an unchanged list).
    QFile current(path);
    if (current.size() == bytes.size() && current.open(QIODevice::ReadOnly) && current.readAll() == bytes)
        return;
    current.close();
    writeValue(path, key, bytes, false);
}

#endif

} // namespace

QString QtSettingsStore::location(const QString& app)
{
#ifdef Q_OS_WIN
    return open(app)->fileName();
#else
    return QFileInfo(open(app)->fileName()).path() + QLatin1Char('/') + app;
#endif
}

QString QtSettingsStore::location(const QString& app, const QString& section, const QString& key)
{
#ifdef Q_OS_WIN
    Q_UNUSED(section);
    Q_UNUSED(key);
    return location(app);
#else
    return valueFile(app, section, key);
#endif
}

QString QtSettingsStore::earlierLocation(const QString& app)
{
    return open(app)->fileName();
}

QString QtSettingsStore::read(const QString& app, const QString& section, const QString& key,
                              const QString& defaultValue)
{
    // A stored empty text is a value of its own; only a missing key takes the default.
    return readValue(app, section, key, defaultValue);
}

void QtSettingsStore::store(const QString& app, const QString& section, const QString& key,
                            const QString& value)
{
    // The caller relies on the value being written when this returns.
    storeValue(app, section, key, value);
}
