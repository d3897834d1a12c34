#include "TilesSource.h"

#include "Coordinates.h"
#include "Geocoding.h"
#include "Pictures.h"
#include "Pin.h"
#include "SourceJob.h"
#include "Stitching.h"
#include "TileMath.h"
#include "UrlTemplate.h"

#include <QCryptographicHash>
#include <QHash>
#include <QImage>

namespace {

const QSize MaxTile(1024, 1024);

} // namespace

class TilesSource::Job : public SourceJob
{
public:
    Job(TilesSource* source, const MapRequest& request, QDeadlineTimer deadline, Done done)
        : SourceJob(source, deadline, std::move(done)), request(request),
          providerDeadline(fetchDeadline(deadline))
    {
    }

    MapRequest request;
    QDeadlineTimer providerDeadline;
    TileCoverage coverage;
    QHash<TileId, QImage> images;
    QHash<TileId, ProviderClient::Result> cachedTiles; // from the disk cache, not yet decoded
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
}

TilesSource::~TilesSource()
{
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
    const QUrl url = UrlTemplate::fill(m_geocoder, {{QStringLiteral("search"), request.search},
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

void TilesSource::placeFound(Job* job, double latitude, double longitude)
{
    job->coverage = tileCoverage(latitude, longitude, job->request.zoom, m_tileSize, job->request.size);
    if (job->coverage.tiles.size() > MaxTiles * m_detail * m_detail) {
        job->finish(
            MapAnswer::failure(400, QStringLiteral("A picture of %1 x %2 needs more than %3 map tiles")
                                        .arg(job->request.size.width())
                                        .arg(job->request.size.height())
                                        .arg(MaxTiles)
                                        .toLatin1()));
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
            PictureCheck picture = checkPicture(body, type, MaxTile, Reasons::Who::MapProvider, true);
            job->images.insert(tile, picture.image);
            return picture.problem;
        };
        m_client->fetch(
            ProviderClient::Kind::Tile, url, job->providerDeadline, job, check,
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
                    const PictureCheck picture = checkPicture(result.body, result.contentType, MaxTile,
                                                              Reasons::Who::MapProvider, true);
                    if (!picture.problem.isEmpty()) {
                        job->finish(MapAnswer::failure(502, Reasons::toPhrase(picture.problem)));
                        return;
                    }
                    job->images.insert(tile, picture.image);
                }
                const QImage image = job->images.value(tile);
                job->used(result.expires);
                m_tileImages.insert(QStringLiteral("%1/%2/%3").arg(tile.z).arg(tile.x).arg(tile.y),
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
            out[i] = checkPicture(in[i]->body, in[i]->contentType, MaxTile, Reasons::Who::MapProvider, true);
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
    QImage picture = stitchTiles(job->coverage, job->images, job->request.size, m_attribution);
    if (m_marker) {
        drawPin(picture, QPoint(picture.width() / 2, picture.height() / 2), m_detail);
    }
    MapAnswer answer;
    answer.contentType = "image/png";
    answer.body = encodePng(picture);
    if (answer.body.isEmpty()) {
        answer = MapAnswer::failure(500, "The gateway could not encode the picture");
    } else if (job->expires.isValid() && QDateTime::currentDateTimeUtc() < job->expires) {
        m_pictures.insert(job->pictureKey(), new Kept{answer.body, {}, job->expires}, answer.body.size());
        m_client->cache().store(pictureAddress(job->request),
                                ProviderCache::Entry{answer.body, "image/png", job->expires, {}, {}});
    }
    job->finish(answer);
}
