#include "platform/qt/QtSettingsStore.h"

#include "platform/Files.h"
#include "platform/PlatformError.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <memory>
#include <optional>

#ifdef Q_OS_WIN
#include <QStandardPaths>
#endif

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

// A file in the user's documents: the registry is no place to look for a list.
QString storeAsideValue(const QString& app, const QString& section, const QString& key, const QString& value)
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH.mm.ss"));
    const QString path = folder + QLatin1Char('/') + app + QLatin1Char(' ') + section + QLatin1Char(' ') +
                         key + QLatin1Char(' ') + stamp + QStringLiteral(".txt");
    if (QFileInfo::exists(path))
        throw PlatformError(QStringLiteral("%1 exists already").arg(shown(path)));
    WriteWholeFile(path, ReplacingFile::Kind::Kept, [&](QIODevice& device) {
        const QByteArray bytes = value.toUtf8();
        if (device.write(bytes) != bytes.size())
            throw PlatformError(device.errorString());
    });
    return shown(path);
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

PlatformError saveFailure(const QString& key, const QString& path, const QString& why)
{
    return PlatformError(
        QStringLiteral("The setting \"%1\" could not be saved to %2: %3").arg(key, shown(path), why));
}

// A new file moved into place: a crash leaves the old value or the new one, never a part. The
// values are the user's alone; flush waits until the disk holds it, for a value that exists
// nowhere else.
void writeValue(const QString& path, const QString& key, const QByteArray& bytes, bool flush)
{
    if (!QDir().mkpath(QFileInfo(path).path()))
        throw PlatformError(QStringLiteral("The folder for %1 cannot be made").arg(shown(path)));
    // One keystroke's store does not wait for the disk: that would take longer than the keystroke.
    const auto kind = flush || flushedToDisk(key) ? ReplacingFile::Kind::Kept : ReplacingFile::Kind::Work;
    try {
        WriteWholeFile(path, kind, [&](QIODevice& device) {
            if (device.write(bytes) != bytes.size())
                throw PlatformError(device.errorString());
        });
    } catch (const PlatformError& e) {
        throw saveFailure(key, path, e.description());
    }
}

// The value in its own file; nothing when it has none. A file that is there but cannot be read
// is a failure: its default would stand in for a value that exists.
std::optional<QString> readOwnFile(const QString& path)
{
    QFile file(path);
    if (!file.exists())
        return std::nullopt;
    const auto failed = [&] {
        return PlatformError(
            QStringLiteral("The settings in %1 cannot be read: %2").arg(shown(path), file.errorString()));
    };
    if (!file.open(QIODevice::ReadOnly))
        throw failed();
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw failed();
    return QString::fromUtf8(bytes);
}

// Values an earlier version kept in the INI file <config>/<app>.conf are copied to files of
// their own; a value whose file exists already is newer and is not copied. Only what was copied
// leaves the INI file, which belongs to the whole organisation: a value stored there by an
// older version run since stays. Should a copy fail, the INI file keeps the value and it is
// read from there.
void moveFromIni(QSettings& settings, const QString& app, const QString& section)
{
    if (settings.status() != QSettings::NoError)
        return;
    settings.beginGroup(section);
    QStringList copied;
    try {
        for (const QString& key : settings.childKeys()) {
            const QString path = valueFile(app, section, key);
            if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
                continue;
            // The INI file loses it next, so it must be on the disk first.
            writeValue(path, key, settings.value(key).toString().toUtf8(), true);
            copied << key;
        }
    } catch (const PlatformError&) {
    }
    for (const QString& key : std::as_const(copied))
        settings.remove(key);
    settings.endGroup();
    if (!copied.isEmpty())
        settings.sync();
}

QString readValue(const QString& app, const QString& section, const QString& key, const QString& defaultValue)
{
    const QString path = valueFile(app, section, key);
    // A value with a file of its own does not depend on the INI file, which may be unreadable.
    if (auto value = readOwnFile(path))
        return *value;
    const auto settings = open(app);
    // Defaults read from a store we could not read would overwrite the user's values at the
    // next store; better to fail the statement that asked. QSettings says so only to the first
    // of its objects on the file, so the file itself is asked.
    QFile ini(settings->fileName());
    if (settings->status() == QSettings::AccessError || (ini.exists() && !ini.open(QIODevice::ReadOnly)))
        throw PlatformError(QStringLiteral("The settings in %1 cannot be read: %2")
                                .arg(shown(settings->fileName()), ini.errorString()));
    ini.close();
    moveFromIni(*settings, app, section);
    if (auto value = readOwnFile(path))
        return *value;
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

QString storeAsideValue(const QString& app, const QString& section, const QString& key, const QString& value)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH.mm.ss"));
    QString path;
    for (int n = 1;; ++n) {
        path = valueFolder(app, section) + QLatin1Char('/') + key + QLatin1Char(' ') + stamp +
               (n == 1 ? QString() : QStringLiteral(" (%1)").arg(n)) + QStringLiteral(".txt");
        if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
            break;
    }
    writeValue(path, key, value.toUtf8(), true);
    return shown(path);
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

QString QtSettingsStore::storeAside(const QString& app, const QString& section, const QString& key,
                                    const QString& value)
{
    return storeAsideValue(app, section, key, value);
}

void QtSettingsStore::store(const QString& app, const QString& section, const QString& key,
                            const QString& value)
{
    // The caller relies on the value being written when this returns.
    storeValue(app, section, key, value);
}
