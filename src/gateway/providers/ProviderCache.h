#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QNetworkDiskCache>
#include <QString>
#include <QUrl>

#include <optional>

// The disk cache of provider answers (geocoding answers, tiles, static pictures): Qt's disk cache
// with its bound (oldest entries out first), plus a checksum over each body so that an entry
// torn by a crash or a full disk is dropped instead of served. Only answers that passed their
// checks are stored, under an address with the key masked out.
class ProviderCache
{
public:
    struct Entry
    {
        QByteArray body;
        QByteArray contentType;
        QDateTime expires; // UTC; fresh before this
        QByteArray etag;
        QByteArray lastModified;

        bool isFresh(const QDateTime& now) const { return expires.isValid() && now < expires; }
    };

    // Kept in a marked folder of its own under directory, which is all it ever trims. When that
    // folder exists without the mark (someone else's), nothing is cached.
    ProviderCache(const QString& directory, qint64 maximumBytes);
    bool isUsable() const;

    // The entry for url, checked against its checksum; a damaged entry is removed and not returned.
    std::optional<Entry> find(const QUrl& url);
    void store(const QUrl& url, const Entry& entry);
    void remove(const QUrl& url);

    qint64 size() { return isUsable() ? m_disk.cacheSize() : 0; }
    QString directory() const { return m_disk.cacheDirectory(); }

private:
    QNetworkDiskCache m_disk;
};
