#include "ProviderCache.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QIODevice>
#include <QSaveFile>

#include <memory>

namespace {

const QByteArray ChecksumHeader = "X-Orrowdale-Body-SHA1";
const QByteArray LengthHeader = "X-Orrowdale-Body-Length";

QByteArray checksum(const QByteArray& body)
{
    return QCryptographicHash::hash(body, QCryptographicHash::Sha1).toHex();
}

// The cache lives in a folder of its own under the one configured, marked as ours: Qt's cache
// trims every "*.d" file under its folder, and the configured one may hold anything.
const QString OwnFolder = QStringLiteral("orrowdale-provider-cache");
const QString MarkerName = QStringLiteral("CACHEDIR.TAG");
const QByteArray MarkerText = "Signature: 8a477f597d28d172789f06886806bc55\n"
                              "# The Orrowdale map gateway's cache of map provider answers.\n"
                              "# The gateway removes files in this folder, and nowhere else.\n";

// Our folder under directory, made and marked when new; empty when the folder there is not ours.
QString ownFolder(const QString& directory)
{
    const QString folder = QDir(directory).filePath(OwnFolder);
    const QString marker = QDir(folder).filePath(MarkerName);
    QFile existing(marker);
    if (existing.open(QIODevice::ReadOnly) && existing.read(MarkerText.size() + 1) == MarkerText) {
        return folder;
    }
    const QDir dir(folder);
    if (dir.exists() && !dir.isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
        return {}; // someone else's files: not ours to trim
    }
    QSaveFile file(marker);
    if (!QDir().mkpath(folder) || !file.open(QIODevice::WriteOnly) ||
        file.write(MarkerText) != MarkerText.size() || !file.commit()) {
        return {};
    }
    return folder;
}

// Files Qt's cache was still writing when a previous run ended abruptly; never read, only in the way.
void removeLeftovers(const QString& directory)
{
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-60);
    QDirIterator it(directory + QStringLiteral("/prepared"), QDir::Files);
    while (it.hasNext()) {
        const QFileInfo info = it.nextFileInfo();
        if (info.lastModified().toUTC() < before) {
            QFile::remove(info.filePath());
        }
    }
}

} // namespace

ProviderCache::ProviderCache(const QString& directory, qint64 maximumBytes)
{
    const QString folder = ownFolder(directory);
    if (folder.isEmpty()) {
        return; // nothing is kept, rather than anything of someone else's removed
    }
    removeLeftovers(folder);
    m_disk.setCacheDirectory(folder);
    m_disk.setMaximumCacheSize(maximumBytes);
}

bool ProviderCache::isUsable() const
{
    return !m_disk.cacheDirectory().isEmpty();
}

std::optional<ProviderCache::Entry> ProviderCache::find(const QUrl& url)
{
    if (!isUsable()) {
        return std::nullopt;
    }
    const QNetworkCacheMetaData meta = m_disk.metaData(url);
    if (!meta.isValid()) {
        return std::nullopt;
    }
    Entry entry;
    QByteArray sum;
    qint64 length = -1;
    for (const auto& [name, value] : meta.rawHeaders()) {
        if (name == ChecksumHeader) {
            sum = value;
        } else if (name == LengthHeader) {
            length = value.toLongLong();
        } else if (name == "Content-Type") {
            entry.contentType = value;
        } else if (name == "ETag") {
            entry.etag = value;
        } else if (name == "Last-Modified") {
            entry.lastModified = value;
        }
    }
    const std::unique_ptr<QIODevice> data(m_disk.data(url));
    if (data) {
        entry.body = data->readAll();
    }
    if (!data || sum.isEmpty() || entry.body.size() != length || checksum(entry.body) != sum) {
        m_disk.remove(url);
        return std::nullopt;
    }
    entry.expires = meta.expirationDate().toUTC();
    return entry;
}

void ProviderCache::store(const QUrl& url, const Entry& entry)
{
    if (!isUsable()) {
        return;
    }
    QNetworkCacheMetaData meta;
    meta.setUrl(url);
    meta.setSaveToDisk(true);
    meta.setExpirationDate(entry.expires);
    QNetworkCacheMetaData::RawHeaderList headers{
        {"Content-Type", entry.contentType},
        {ChecksumHeader, checksum(entry.body)},
        {LengthHeader, QByteArray::number(entry.body.size())},
        {"Content-Length", QByteArray::number(entry.body.size())},
    };
    if (!entry.etag.isEmpty()) {
        headers.append({"ETag", entry.etag});
    }
    if (!entry.lastModified.isEmpty()) {
        headers.append({"Last-Modified", entry.lastModified});
    }
    meta.setRawHeaders(headers);
    QIODevice* device = m_disk.prepare(meta);
    if (!device) {
        return; // larger than the whole cache, or the folder cannot be written: just not kept
    }
    if (device->write(entry.body) != entry.body.size()) {
        m_disk.remove(url);
        return;
    }
    m_disk.insert(device);
}

void ProviderCache::remove(const QUrl& url)
{
    if (!isUsable()) {
        return;
    }
    m_disk.remove(url);
}
