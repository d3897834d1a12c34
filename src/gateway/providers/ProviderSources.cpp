#include "ProviderSources.h"

#include "Reasons.h"
#include "StaticSource.h"
#include "TilesSource.h"
#include "UrlTemplate.h"

#include <QDir>
#include <QStandardPaths>

#include <optional>

#ifndef ORROWDALE_VERSION
#define ORROWDALE_VERSION "0"
#endif
#ifndef ORROWDALE_CONTACT_URL
#define ORROWDALE_CONTACT_URL ""
#endif

namespace {

// Answers every picture with what to fix in the configuration.
class UnusableSource : public MapSource
{
public:
    UnusableSource(const QString& problem, QObject* parent)
        : MapSource(parent), m_reason(Reasons::toPhrase(problem))
    {
    }
    void render(const MapRequest&, QDeadlineTimer, Done done) override
    {
        done(MapAnswer::failure(503, m_reason));
    }

private:
    QByteArray m_reason;
};

ProviderClient::Settings clientSettings(const GatewayConfig& config)
{
    ProviderClient::Settings s;
    s.cacheDirectory =
        config.cacheDirectory.isEmpty() ? defaultProviderCacheDirectory() : config.cacheDirectory;
    s.cacheBytes = config.cacheBytes;
    const QString contact =
        config.contactUrl.isEmpty() ? QStringLiteral(ORROWDALE_CONTACT_URL) : config.contactUrl;
    s.userAgent = "orrowdale-gateway/" ORROWDALE_VERSION;
    if (!contact.isEmpty()) {
        s.userAgent += " (+" + contact.toLatin1() + ')';
    }
    s.key = config.key;
    s.requestsPerHost = config.requestsPerHost;
    s.geocoderRequestsPerSecond = config.geocoderRequestsPerSecond;
    s.tileRequestsPerSecond = config.tileRequestsPerSecond;
    s.pictureRequestsPerSecond = config.staticRequestsPerSecond;
    return s;
}

// For a setting that names files on this computer (scheme:/path, ...): what is wrong with it, or
// an empty text. Nothing when it is meant as a web address.
std::optional<QString> localFilesProblem(const QString& setting, QLatin1String scheme)
{
    if (!setting.trimmed().startsWith(scheme + QLatin1Char(':'), Qt::CaseInsensitive)) {
        return std::nullopt;
    }
    const QStringList paths = TilesSource::localFiles(setting, scheme);
    if (paths.isEmpty()) {
        return QStringLiteral("must name every file as %1:/path, with commas between").arg(scheme);
    }
    for (const QString& path : paths) {
        if (path.isEmpty() || QDir::isRelativePath(path)) {
            return QStringLiteral("needs the whole path of each file, as %1:/path/to/file").arg(scheme);
        }
    }
    return QString();
}

} // namespace

QString defaultProviderCacheDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/orrowdale/gateway");
}

QString providerConfigProblem(const GatewayConfig& config)
{
    const auto setting = [](const char* name, const QString& problem) {
        return problem.isEmpty()
                   ? QString()
                   : QStringLiteral("The setting %1 in gateway.conf %2").arg(QLatin1String(name), problem);
    };
    QString problem;
    switch (config.source) {
    case GatewayConfig::Source::Demo:
        return {};
    case GatewayConfig::Source::Static:
        return setting(
            "[static] url",
            UrlTemplate::problem(config.staticUrl, {QStringLiteral("search")},
                                 {QStringLiteral("search"), QStringLiteral("zoom"), QStringLiteral("width"),
                                  QStringLiteral("height"), QStringLiteral("key")}));
    case GatewayConfig::Source::Tiles:
        problem =
            setting("[tiles] geocoder",
                    localFilesProblem(config.geocoderUrl, QLatin1String("gazetteer"))
                        .value_or(UrlTemplate::problem(config.geocoderUrl, {QStringLiteral("search")},
                                                       {QStringLiteral("search"), QStringLiteral("key")})));
        if (problem.isEmpty()) {
            problem = setting(
                "[tiles] tiles",
                localFilesProblem(config.tileUrl, QLatin1String("mbtiles"))
                    .value_or(UrlTemplate::problem(
                        config.tileUrl, {QStringLiteral("z"), QStringLiteral("x"), QStringLiteral("y")},
                        {QStringLiteral("z"), QStringLiteral("x"), QStringLiteral("y"),
                         QStringLiteral("key")})));
        }
        if (problem.isEmpty() && config.tileSize != 256 && config.tileSize != 512) {
            problem = QStringLiteral("The setting [tiles] tile_size in gateway.conf must be 256 or 512");
        }
        return problem;
    }
    return {};
}

std::unique_ptr<MapSource> createProviderSource(const GatewayConfig& config, QObject* parent)
{
    if (config.source == GatewayConfig::Source::Demo) {
        return nullptr;
    }
    if (const QString problem = providerConfigProblem(config); !problem.isEmpty()) {
        return std::make_unique<UnusableSource>(problem, parent);
    }
    if (config.source == GatewayConfig::Source::Static) {
        return std::make_unique<StaticSource>(config, clientSettings(config), parent);
    }
    return std::make_unique<TilesSource>(config, clientSettings(config), parent);
}
