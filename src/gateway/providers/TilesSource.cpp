#include "TilesSource.h"

#include "Coordinates.h"
#include "Gazetteer.h"
#include "Geocoding.h"
#include "MbTiles.h"
#include "Pictures.h"
#include "Pin.h"
#include "SourceJob.h"
#include "Stitching.h"
#include "TileMath.h"
#include "UrlTemplate.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QHash>
#include <QImage>
#include <QPointer>
#include <QThreadPool>

namespace {

const QSize MaxTile(1024, 1024);

// A tile checked and decoded, in the pixels pictures are drawn in.
PictureCheck checkTile(const QByteArray& body, const QByteArray& type)
{
    PictureCheck tile = checkPicture(body, type, MaxTile, Reasons::Who::MapProvider, true);
    tile.image = asDrawn(std::move(tile.image));
    return tile;
}

} // namespace

class TilesSource::Job : public SourceJob
{
public:
    using SourceJob::SourceJob;

    QString attribution;
    TileCoverage coverage;
    QHash<TileId, QImage> images;
    QHash<TileId, ProviderClient::Result> cachedTiles; // from the disk cache, not yet decoded
    // Tiles read from a map file, decoded with the drawing on a worker thread; kept decoded under
    // fileTileKey followed by their zoom/column/row.
    QList<TileId> fileTileIds;
    QList<QByteArray> fileTiles;
    QString fileName;
    QString fileTileKey;
    int waiting = 0;
    QDateTime expires; // the earliest time one of the answers used goes stale
    void used(const QDateTime& until)
    {
        if (!expires.isValid() || until < expires) {
            expires = until;
        }
    }
    QString pictureKey() const
    {
        return QStringLiteral("%1 %2x%3 %4")
            .arg(request.zoom)
            .arg(request.size.width())
            .arg(request.size.height())
            .arg(request.search);
    }
};

TilesSource::TilesSource(const GatewayConfig& config, const ProviderClient::Settings& settings,
                         QObject* parent)
    : MapSource(parent), m_geocoder(config.geocoderUrl), m_tiles(config.tileUrl),
      m_tileSize(config.tileSize >= 512 ? 512 : 256), m_attribution(config.attribution),
      m_key(config.key), m_paths{config.latPath, config.lonPath}, m_country(config.country.toLower()),
      m_marker(config.marker), m_detail(config.pictureSize == 1280 ? 2 : 1),
      m_client(new ProviderClient(settings, this))
{
    if (const QStringList places = localFiles(m_geocoder, QLatin1String("gazetteer")); !places.isEmpty()) {
        m_gazetteer = new Gazetteer(places, config.country, this);
    }
    for (const QString& path : localFiles(m_tiles, QLatin1String("mbtiles"))) {
        m_mapFiles.push_back(std::make_unique<MbTilesFile>(path));
    }
}

QStringList TilesSource::localFiles(const QString& setting, QLatin1String scheme)
{
    QStringList paths;
    const QString prefix = scheme + QLatin1Char(':');
    for (QString item : setting.split(QLatin1Char(','))) {
        item = item.trimmed();
        if (!item.startsWith(prefix, Qt::CaseInsensitive)) {
            return {};
        }
        QString path = item.mid(prefix.size()).trimmed();
        if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/"))) {
            path = QDir::homePath() + path.mid(1);
        }
        paths.append(path);
    }
    return paths;
}

TilesSource::~TilesSource()
{
    {
        std::unique_lock lock(m_packing->mutex);
        m_packing->changed.wait_for(lock, std::chrono::seconds(2),
                                    [this] { return m_packing->running == 0; });
    }
    keepPacked();
    for (SourceJob* job : findChildren<SourceJob*>(Qt::FindDirectChildrenOnly)) {
        job->finish(
            MapAnswer::failure(503, "The map settings changed while this picture was made; try again"));
    }
}

// Where a finished picture is kept in the disk cache: a digest of everything that decides how it
// looks, so a change of tile server, tile size or attribution never brings back an old picture.
// The key decides nothing, and is masked out in case it was written into an address.
QUrl TilesSource::pictureAddress(const MapRequest& request) const
{
    const auto masked = [this](QString text) {
        return m_key.isEmpty() ? text : text.replace(m_key, QStringLiteral("KEY"));
    };
    const QStringList parts{QStringLiteral("tiles picture 1"),
                            m_marker ? QStringLiteral("pin") : QStringLiteral("no pin"),
                            masked(m_geocoder),
                            masked(m_tiles),
                            QString::number(m_tileSize),
                            m_attribution,
                            request.search,
                            QString::number(request.zoom),
                            QString::number(request.size.width()),
                            QString::number(request.size.height())};
    const QByteArray digest =
        QCryptographicHash::hash(parts.join(QChar(0)).toUtf8(), QCryptographicHash::Sha256).toHex();
    return QUrl(QStringLiteral("orrowdale-picture:") + QString::fromLatin1(digest));
}

void TilesSource::render(const MapRequest& asked, QDeadlineTimer deadline, Done done)
{
    MapRequest request = asked;
    request.size *= m_detail;
    request.zoom += m_detail - 1;
    auto* job = new Job(this, request, deadline, std::move(done));
    job->attribution = m_attribution;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const auto answerWith = [job](const QByteArray& png) {
        MapAnswer answer;
        answer.contentType = "image/png";
        answer.body = png;
        job->finish(answer);
    };
    if (const Kept* kept = m_pictures.object(job->pictureKey())) {
        if (now < kept->expires) {
            answerWith(kept->png);
            return;
        }
        m_pictures.remove(job->pictureKey());
    }
    // Kept on disk only as long as the earliest of the answers it was made from stays fresh.
    const QUrl address = pictureAddress(request);
    if (std::optional<ProviderCache::Entry> kept = m_client->cache().find(address)) {
        if (kept->isFresh(now)) {
            m_pictures.insert(job->pictureKey(), new Kept{kept->body, {}, kept->expires}, kept->body.size());
            answerWith(kept->body);
            return;
        }
        m_client->cache().remove(address);
    }
    if (const std::optional<LatLon> place = parseCoordinates(request.search)) {
        placeFound(job, place->latitude, place->longitude);
        return;
    }
    findPlace(job);
}

void TilesSource::findPlace(Job* job)
{
    if (m_gazetteer) {
        m_gazetteer->find(
            job->request.search, [this, job = QPointer<Job>(job)](const Gazetteer::Result& place) {
                if (!job || job->finished()) {
                    return;
                }
                if (place.status != 200) {
                    job->finish(MapAnswer::failure(place.status, Reasons::toPhrase(place.problem)));
                    return;
                }
                if (place.namesakes > 1) {
                    qInfo("%s is %s: the most likely of %d places of that name",
                          qPrintable(Reasons::quoted(job->request.search)), qPrintable(place.which),
                          place.namesakes);
                }
                placeFound(job, place.latitude, place.longitude);
            });
        return;
    }
    const QUrl url = UrlTemplate::fill(m_geocoder, {{QStringLiteral("search"), job->request.search},
                                                    {QStringLiteral("key"), m_key},
                                                    {QStringLiteral("country"), m_country}});
    const auto check = [paths = m_paths, key = m_key](const QByteArray& body, const QByteArray&) {
        return geocoderProblem(body, paths, key);
    };
    m_client->fetch(ProviderClient::Kind::Geocoder, url, job->providerDeadline, job, check,
                    [this, job](const ProviderClient::Result& result) {
                        if (!result.ok()) {
                            job->finish(MapAnswer::failure(result.status, result.reason));
                            return;
                        }
                        job->used(result.expires);
                        const GeocoderAnswer place = readGeocoderAnswer(result.body, m_paths);
                        if (place.kind != GeocoderAnswer::Kind::Found) {
                            job->finish(geocoderFailure(place, job->request.search, m_key));
                            return;
                        }
                        placeFound(job, place.latitude, place.longitude);
                    });
}

// Finishes the job when its picture would need more tiles than one picture may ask for.
bool TilesSource::tooManyTiles(Job* job)
{
    if (job->coverage.tiles.size() <= MaxTiles * m_detail * m_detail) {
        return false;
    }
    job->finish(MapAnswer::failure(400, QStringLiteral("A picture of %1 x %2 needs more than %3 map tiles")
                                            .arg(job->request.size.width())
                                            .arg(job->request.size.height())
                                            .arg(MaxTiles)
                                            .toLatin1()));
    return true;
}

void TilesSource::placeFound(Job* job, double latitude, double longitude)
{
    if (!m_mapFiles.empty()) {
        drawFromMapFiles(job, latitude, longitude);
        return;
    }
    job->coverage = tileCoverage(latitude, longitude, job->request.zoom, m_tileSize, job->request.size);
    if (tooManyTiles(job)) {
        return;
    }
    job->waiting = int(job->coverage.tiles.size());
    if (job->waiting == 0) {
        tilesReady(job);
        return;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<TileId> wanted;
    for (const TileId& tile : std::as_const(job->coverage.tiles)) {
        const QString id = QStringLiteral("%1/%2/%3").arg(tile.z).arg(tile.x).arg(tile.y);
        if (const Kept* kept = m_tileImages.object(id); kept && now < kept->expires) {
            job->images.insert(tile, kept->tile);
            job->used(kept->expires);
            --job->waiting;
        } else {
            wanted.append(tile);
        }
    }
    if (job->waiting == 0) {
        tilesReady(job);
        return;
    }
    for (const TileId& tile : std::as_const(wanted)) {
        const QUrl url = UrlTemplate::fill(m_tiles, {{QStringLiteral("z"), QString::number(tile.z)},
                                                     {QStringLiteral("x"), QString::number(tile.x)},
                                                     {QStringLiteral("y"), QString::number(tile.y)},
                                                     {QStringLiteral("key"), m_key}});
        // A tile is decoded once: while it is checked on arrival, or when it comes from the cache.
        const auto check = [job, tile](const QByteArray& body, const QByteArray& type) {
            const PictureCheck picture = checkTile(body, type);
            job->images.insert(tile, picture.image);
            return picture.problem;
        };
        m_client->fetch(ProviderClient::Kind::Tile, url, job->providerDeadline, job, check,
                        [this, job, tile](const ProviderClient::Result& result) {
                            if (job->finished()) {
                                return;
                            }
                            if (!result.ok()) {
                                job->finish(MapAnswer::failure(result.status, result.reason));
                                return;
                            }
                            if (job->images.value(tile).isNull() && result.fromCache) {
                                // Decoded with the others once all are here, on every processor.
                                job->used(result.expires);
                                job->cachedTiles.insert(tile, result);
                                if (--job->waiting == 0) {
                                    tilesReady(job);
                                }
                                return;
                            }
                            if (job->images.value(tile).isNull()) {
                                const PictureCheck picture = checkTile(result.body, result.contentType);
                                if (!picture.problem.isEmpty()) {
                                    job->finish(MapAnswer::failure(502, Reasons::toPhrase(picture.problem)));
                                    return;
                                }
                                job->images.insert(tile, picture.image);
                            }
                            const QImage image = job->images.value(tile);
                            job->used(result.expires);
                            m_tileImages.insert(
                                QStringLiteral("%1/%2/%3").arg(tile.z).arg(tile.x).arg(tile.y),
                                new Kept{{}, image, result.expires}, image.sizeInBytes());
                            if (--job->waiting == 0) {
                                tilesReady(job);
                            }
                        });
    }
}

void TilesSource::tilesReady(Job* job)
{
    if (!job->cachedTiles.isEmpty()) {
        const QList<TileId> ids = job->cachedTiles.keys();
        QList<const ProviderClient::Result*> kept;
        for (const TileId& id : ids) {
            kept.append(&job->cachedTiles.constFind(id).value());
        }
        QList<PictureCheck> decoded(ids.size());
        PictureCheck* out = decoded.data(); // not detached from several threads
        inParallel(ids.size(), [&in = std::as_const(kept), out](qsizetype i) {
            out[i] = checkTile(in[i]->body, in[i]->contentType);
        });
        for (qsizetype i = 0; i < ids.size(); ++i) {
            if (!decoded[i].problem.isEmpty()) {
                job->finish(MapAnswer::failure(502, Reasons::toPhrase(decoded[i].problem)));
                return;
            }
            job->images.insert(ids[i], decoded[i].image);
            m_tileImages.insert(QStringLiteral("%1/%2/%3").arg(ids[i].z).arg(ids[i].x).arg(ids[i].y),
                                new Kept{{}, decoded[i].image, kept[i]->expires},
                                decoded[i].image.sizeInBytes());
        }
        job->cachedTiles.clear();
    }
    // Decoded, drawn and encoded on a worker thread: pictures in flight together use every
    // processor, and the gateway's thread stays free to answer. The job may be gone by the time it
    // is done, and the source too by the time the copy to keep is made.
    if (job->expires.isValid()) {
        const std::lock_guard lock(m_packing->mutex);
        ++m_packing->running;
    }
    QThreadPool::globalInstance()->start(
        [job = QPointer<Job>(job), source = QPointer<TilesSource>(this), coverage = job->coverage,
         images = job->images, ids = std::exchange(job->fileTileIds, {}),
         bodies = std::exchange(job->fileTiles, {}), size = job->request.size,
         band = attributionBand(job->attribution, job->request.size.width()), expires = job->expires,
         key = job->pictureKey(), address = pictureAddress(job->request), packing = m_packing, pin = m_marker,
         detail = m_detail]() mutable {
            QList<QImage> decoded(ids.size());
            QList<char> damaged(ids.size(), 0);
            QImage* out = decoded.data(); // not detached from several threads
            char* bad = damaged.data();
            inParallel(ids.size(), [&in = std::as_const(bodies), out, bad](qsizetype i) {
                if (!in[i].isEmpty()) {
                    PictureCheck picture = checkTile(in[i], {});
                    bad[i] = !picture.problem.isEmpty();
                    out[i] = std::move(picture.image);
                }
            });
            const qsizetype firstDamaged = damaged.indexOf(1);
            QByteArray png;
            QImage picture;
            if (firstDamaged < 0) {
                for (qsizetype i = 0; i < ids.size(); ++i) {
                    images.insert(ids[i], decoded[i]);
                }
                picture = stitchTilesWithBand(coverage, images, size, band);
                if (pin) {
                    drawPin(picture, QPoint(picture.width() / 2, picture.height() / 2), detail);
                }
                // The answer only crosses loopback: unpacked, it is out in a fifth of the time.
                png = encodePng(picture, 0);
            }
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [job, source, png, ids = std::move(ids), decoded = std::move(decoded), firstDamaged] {
                    if (!job || job->finished() || !source) {
                        return;
                    }
                    if (firstDamaged >= 0) {
                        const TileId& id = ids[firstDamaged];
                        job->finish(MapAnswer::failure(
                            503, Reasons::toPhrase(
                                     QStringLiteral("The map file \"%1\" holds a tile that is not a picture "
                                                    "(zoom %2, column %3, row %4)")
                                         .arg(job->fileName)
                                         .arg(id.z)
                                         .arg(id.x)
                                         .arg(id.y))));
                        return;
                    }
                    for (qsizetype i = 0; i < ids.size(); ++i) {
                        if (!decoded[i].isNull()) {
                            source->m_tileImages.insert(
                                job->fileTileKey +
                                    QStringLiteral("%1/%2/%3").arg(ids[i].z).arg(ids[i].x).arg(ids[i].y),
                                new Kept{{}, decoded[i], {}}, decoded[i].sizeInBytes());
                        }
                    }
                    if (png.isEmpty()) {
                        job->finish(MapAnswer::failure(500, "The gateway could not encode the picture"));
                        return;
                    }
                    MapAnswer answer;
                    answer.contentType = "image/png";
                    answer.body = png;
                    job->finish(answer);
                },
                Qt::QueuedConnection);
            // The copy kept for later is packed once the answer is on its way: it may be kept for
            // days, and this one is asked for now.
            if (!expires.isValid()) {
                return;
            }
            QByteArray packed = png.isEmpty() ? QByteArray() : encodePng(picture, 1);
            {
                const std::lock_guard lock(packing->mutex);
                if (!packed.isEmpty()) {
                    packing->done.push_back({std::move(key), std::move(address), std::move(packed), expires});
                }
                --packing->running;
            }
            packing->changed.notify_all();
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [source] {
                    if (source) {
                        source->keepPacked();
                    }
                },
                Qt::QueuedConnection);
        });
}

void TilesSource::keepPacked()
{
    std::vector<Packing::Packed> done;
    {
        const std::lock_guard lock(m_packing->mutex);
        done.swap(m_packing->done);
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const Packing::Packed& p : done) {
        if (now < p.expires) {
            m_pictures.insert(p.key, new Kept{p.png, {}, p.expires}, p.png.size());
            m_client->cache().store(p.address, ProviderCache::Entry{p.png, "image/png", p.expires, {}, {}});
        }
    }
}

// The first file that covers the place at the asked zoom draws it. Tiles a file lacks inside its
// bounds are left as background; closer than its closest zoom, that zoom's tiles are scaled up.
void TilesSource::drawFromMapFiles(Job* job, double latitude, double longitude)
{
    QString problem;
    QString zoomProblem;
    QStringList names;
    MbTilesFile* file = nullptr;
    int tileZoom = 0;
    for (const auto& f : m_mapFiles) {
        names << QStringLiteral("\"%1\"").arg(f->fileName());
        if (const QString p = f->open(); !p.isEmpty()) {
            problem = problem.isEmpty() ? p : problem;
            continue;
        }
        if (!f->covers(latitude, longitude)) {
            continue;
        }
        // 512-pixel tiles show the ground of a zoom one closer, as with a tile server.
        const int shift = f->tileSize() == 512 ? 1 : 0;
        tileZoom = std::max(0, job->request.zoom - shift);
        if (tileZoom >= f->minZoom() && tileZoom <= f->maxZoom() + MaxOverzoom) {
            file = f.get();
            break;
        }
        if (zoomProblem.isEmpty()) {
            const bool tooClose = tileZoom > f->maxZoom();
            zoomProblem = QStringLiteral("The map file \"%1\" has no map at zoom %2; its %3 is zoom %4")
                              .arg(f->fileName())
                              .arg(job->request.zoom)
                              .arg(tooClose ? QStringLiteral("closest") : QStringLiteral("farthest"))
                              .arg((tooClose ? f->maxZoom() : f->minZoom()) + shift);
        }
    }
    if (!file) {
        if (!zoomProblem.isEmpty()) {
            job->finish(MapAnswer::failure(404, Reasons::toPhrase(zoomProblem)));
        } else if (!problem.isEmpty()) {
            job->finish(MapAnswer::failure(503, Reasons::toPhrase(problem)));
        } else {
            job->finish(MapAnswer::failure(
                404, Reasons::toPhrase(
                         QStringLiteral("The map %1 %2 %3 no map of %4")
                             .arg(names.size() == 1 ? QStringLiteral("file") : QStringLiteral("files"),
                                  names.join(QStringLiteral(", ")),
                                  names.size() == 1 ? QStringLiteral("holds") : QStringLiteral("hold"),
                                  Reasons::quoted(job->request.search)))));
        }
        return;
    }
    const int scaledUp = std::max(0, tileZoom - file->maxZoom());
    job->coverage = tileCoverageAt(latitude, longitude, tileZoom - scaledUp, file->tileSize() << scaledUp,
                                   job->request.size);
    if (tooManyTiles(job)) {
        return;
    }
    // Decoded tiles are kept for neighbouring places, under the file's name and time: a file
    // replaced on disk brings none of them back.
    const QString keyed =
        QStringLiteral("%1 %2 ").arg(file->path()).arg(file->modified().toMSecsSinceEpoch());
    const auto tileKey = [&keyed](const TileId& id) {
        return keyed + QStringLiteral("%1/%2/%3").arg(id.z).arg(id.x).arg(id.y);
    };
    job->fileName = file->fileName();
    job->fileTileKey = keyed;
    for (const TileId& id : std::as_const(job->coverage.tiles)) {
        if (const Kept* kept = m_tileImages.object(tileKey(id))) {
            job->images.insert(id, kept->tile);
            continue;
        }
        job->fileTileIds.append(id);
        job->fileTiles.append(file->tile(id, &problem));
        if (!problem.isEmpty()) {
            job->finish(MapAnswer::failure(503, Reasons::toPhrase(problem)));
            return;
        }
    }
    if (m_attribution.isEmpty()) {
        job->attribution = file->attribution();
    }
    tilesReady(job);
}
