#include "StaticSource.h"

#include "Pictures.h"
#include "SourceJob.h"
#include "UrlTemplate.h"

namespace {

const QSize MaxPicture(4096, 4096);

void finishAll(QObject* source)
{
    for (SourceJob* job : source->findChildren<SourceJob*>(Qt::FindDirectChildrenOnly)) {
        job->finish(
            MapAnswer::failure(503, "The map settings changed while this picture was made; try again"));
    }
}

} // namespace

StaticSource::StaticSource(const GatewayConfig& config, const ProviderClient::Settings& settings,
                           QObject* parent)
    : MapSource(parent), m_template(config.staticUrl), m_key(config.key),
      m_client(new ProviderClient(settings, this))
{
}

StaticSource::~StaticSource()
{
    finishAll(this);
}

void StaticSource::render(const MapRequest& request, QDeadlineTimer deadline, Done done)
{
    auto* job = new SourceJob(this, deadline, std::move(done));
    const QUrl url =
        UrlTemplate::fill(m_template, {{QStringLiteral("search"), request.search},
                                       {QStringLiteral("zoom"), QString::number(request.zoom)},
                                       {QStringLiteral("width"), QString::number(request.size.width())},
                                       {QStringLiteral("height"), QString::number(request.size.height())},
                                       {QStringLiteral("key"), m_key}});
    const auto check = [](const QByteArray& body, const QByteArray& type) {
        return checkPicture(body, type, MaxPicture, Reasons::Who::MapProvider, true).problem;
    };
    m_client->fetch(ProviderClient::Kind::Picture, url, SourceJob::fetchDeadline(deadline), job, check,
                    [job](const ProviderClient::Result& result) {
                        if (!result.ok()) {
                            job->finish(MapAnswer::failure(result.status, result.reason));
                            return;
                        }
                        // Fully checked when it arrived; a copy from the cache passed its checksum.
                        PictureCheck picture = checkPicture(result.body, result.contentType, MaxPicture,
                                                            Reasons::Who::MapProvider, false);
                        if (!picture.problem.isEmpty()) {
                            job->finish(MapAnswer::failure(502, Reasons::toPhrase(picture.problem)));
                            return;
                        }
                        MapAnswer answer;
                        answer.contentType = pictureMimeType(picture.format);
                        answer.body = result.body;
                        job->finish(answer);
                    });
}
