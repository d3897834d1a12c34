#include "StaticSource.h"

#include "Coordinates.h"
#include "Pictures.h"
#include "Pin.h"
#include "SourceJob.h"
#include "Stitching.h"
#include "UrlTemplate.h"

#include <QCryptographicHash>

#include <algorithm>

namespace {

const QSize MaxPicture(4096, 4096);

} // namespace

QUrl StaticSource::pinnedAddress(const QUrl& url) const
{
    const QByteArray digest =
        QCryptographicHash::hash(m_client->publicUrl(url).toEncoded(), QCryptographicHash::Sha256).toHex();
    return QUrl(QStringLiteral("orrowdale-pinned:") + QString::fromLatin1(digest));
}

class StaticSource::Job : public SourceJob
{
public:
    using SourceJob::SourceJob;
};

StaticSource::StaticSource(const GatewayConfig& config, const ProviderClient::Settings& settings,
                           const Options& options, QObject* parent)
    : MapSource(parent), m_template(config.staticUrl),
      m_geocoder(config.geocoderUrl), m_paths{config.latPath, config.lonPath}, m_key(config.key),
      m_country(config.country.toLower()), m_options(options), m_client(new ProviderClient(settings, this))
{
}

StaticSource::~StaticSource()
{
    for (SourceJob* job : findChildren<SourceJob*>(Qt::FindDirectChildrenOnly)) {
        job->finish(
            MapAnswer::failure(503, "The map settings changed while this picture was made; try again"));
    }
}

void StaticSource::render(const MapRequest& request, QDeadlineTimer deadline, Done done)
{
    auto* job = new Job(this, request, deadline, std::move(done));
    const std::optional<LatLon> written = parseCoordinates(request.search);
    if (written) {
        // Sent in one form whatever the user wrote, so free-text providers read it as coordinates.
        job->request.search = coordinatesText(*written);
    }
    const bool needsPlace =
        m_template.contains(QLatin1String("{lat}")) || m_template.contains(QLatin1String("{lon}"));
    if (!needsPlace || written) {
        const LatLon place = written.value_or(LatLon{});
        const QStringList both = coordinatesText(place).split(u',');
        fetchPicture(job, both.value(0), both.value(1));
        return;
    }
    const QUrl url = UrlTemplate::fill(m_geocoder, {{QStringLiteral("search"), request.search},
                                                    {QStringLiteral("key"), m_key},
                                                    {QStringLiteral("country"), m_country}});
    const auto check = [paths = m_paths, key = m_key](const QByteArray& body, const QByteArray&) {
        return geocoderProblem(body, paths, key);
    };
    m_client->fetch(
        ProviderClient::Kind::Geocoder, url, job->providerDeadline, job, check,
        [this, job](const ProviderClient::Result& result) {
            if (!result.ok()) {
                job->finish(MapAnswer::failure(result.status, result.reason));
                return;
            }
            const GeocoderAnswer place = readGeocoderAnswer(result.body, m_paths);
            if (place.kind != GeocoderAnswer::Kind::Found) {
                job->finish(geocoderFailure(place, job->request.search, m_key));
                return;
            }
            const QStringList both = coordinatesText({place.latitude, place.longitude}).split(u',');
            fetchPicture(job, both.value(0), both.value(1));
        });
}

void StaticSource::fetchPicture(Job* job, const QString& latitude, const QString& longitude)
{
    const MapRequest& request = job->request;
    const int detail = m_options.detail;
    const int zoom = std::max(0, request.zoom - m_options.zoomOffset + (detail == 2 ? 1 : 0));
    const QUrl url = UrlTemplate::fill(
        m_template, {{QStringLiteral("search"), request.search},
                     {QStringLiteral("zoom"), QString::number(zoom)},
                     {QStringLiteral("width"), QString::number(request.size.width() * detail)},
                     {QStringLiteral("height"), QString::number(request.size.height() * detail)},
                     {QStringLiteral("lat"), latitude},
                     {QStringLiteral("lon"), longitude},
                     {QStringLiteral("key"), m_key}});
    const auto check = [](const QByteArray& body, const QByteArray& type) {
        return checkPicture(body, type, MaxPicture, Reasons::Who::MapProvider, true).problem;
    };
    const QString pinnedKey = url.toString();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const auto answerWith = [job](const QByteArray& png) {
        MapAnswer answer;
        answer.contentType = "image/png";
        answer.body = png;
        job->finish(answer);
    };
    if (m_options.drawPin) {
        if (const Pinned* kept = m_pinned.object(pinnedKey); kept && now < kept->expires) {
            answerWith(kept->png);
            return;
        }
        // On disk too, for after a restart, under the provider's address with the key masked.
        if (std::optional<ProviderCache::Entry> kept = m_client->cache().find(pinnedAddress(url))) {
            if (kept->isFresh(now)) {
                m_pinned.insert(pinnedKey, new Pinned{kept->body, kept->expires}, kept->body.size());
                answerWith(kept->body);
                return;
            }
        }
    }
    m_client->fetch(
        ProviderClient::Kind::Picture, url, job->providerDeadline, job, check,
        [this, job, pinnedKey](const ProviderClient::Result& result) {
            if (!result.ok()) {
                job->finish(MapAnswer::failure(result.status, result.reason));
                return;
            }
            // Fully checked when it arrived; a copy from the cache passed its checksum.
            PictureCheck picture = checkPicture(result.body, result.contentType, MaxPicture,
                                                Reasons::Who::MapProvider, m_options.drawPin);
            if (!picture.problem.isEmpty()) {
                job->finish(MapAnswer::failure(502, Reasons::toPhrase(picture.problem)));
                return;
            }
            MapAnswer answer;
            answer.contentType = pictureMimeType(picture.format);
            answer.body = result.body;
            if (m_options.drawPin) {
                // The provider's picture is centred on the place.
                QImage image = picture.image;
                const int scale = image.width() >= 2 * job->request.size.width() ? 2 : 1;
                drawPin(image, QPoint(image.width() / 2, image.height() / 2), scale);
                answer.contentType = "image/png";
                answer.body = encodePng(image);
                if (answer.body.isEmpty()) {
                    answer = MapAnswer::failure(500, "The gateway could not encode the picture");
                } else {
                    m_pinned.insert(pinnedKey, new Pinned{answer.body, result.expires}, answer.body.size());
                    m_client->cache().store(
                        pinnedAddress(QUrl(pinnedKey)),
                        ProviderCache::Entry{answer.body, "image/png", result.expires, {}, {}});
                }
            }
            job->finish(answer);
        });
}
