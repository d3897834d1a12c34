#include "ProviderSources.h"

#include "Presets.h"
#include "Reasons.h"
#include "StaticSource.h"
#include "TilesSource.h"
#include "UrlTemplate.h"

#include <QDir>
#include <QRegularExpression>
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
    s.otherKeys = {config.geocoderKey};
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

GatewayConfig resolvePreset(const GatewayConfig& config)
{
    const Presets::Preset* p = Presets::find(config.preset);
    if (config.source != GatewayConfig::Source::Preset || !p) {
        return config;
    }
    GatewayConfig c = config;
    const QString style = config.style.isEmpty() ? p->styleDefault : config.style;
    const QString country = config.country.toLower();
    const QHash<QString, QString> parts{
        {QStringLiteral("style"), style},
        {QStringLiteral("marker"), config.marker ? p->markerPart : QString()},
        {QStringLiteral("scale"), config.pictureSize == 1280 ? p->doubleDetailPart : QString()},
        {QStringLiteral("country"),
         country.isEmpty()
             ? QString()
             : UrlTemplate::insertParts(p->countryPart, {{QStringLiteral("country"), country}})}};
    const auto address = [&](const QString& templ) {
        return templ.isEmpty()
                   ? QString()
                   : UrlTemplate::withServer(UrlTemplate::insertParts(templ, parts), config.server);
    };
    c.source = p->kind == Presets::Kind::Tiles ? GatewayConfig::Source::Tiles : GatewayConfig::Source::Static;
    c.staticUrl = address(p->staticUrl);
    c.geocoderUrl = address(p->geocoderUrl);
    c.tileUrl = address(p->tileUrl);
    c.tileSize = p->tileSize;
    c.attribution = p->attribution;
    c.latPath.clear();
    c.lonPath.clear();
    c.staticRequestsPerSecond = p->staticRequestsPerSecond;
    c.geocoderRequestsPerSecond = p->geocoderRequestsPerSecond;
    c.tileRequestsPerSecond = p->tileRequestsPerSecond;
    if (c.geocoderUrl.isEmpty()) {
        // Tiles without a geocoder of their own: another provider's, with that provider's key
        // written in (it is not this source's key), or a geocoder of the user's.
        const QString from = config.geocoderPreset.isEmpty() && config.geocoderUrl.isEmpty()
                                 ? p->geocoderFrom
                                 : config.geocoderPreset;
        if (const Presets::Preset* g = Presets::find(from); g && !g->geocoderUrl.isEmpty()) {
            const QHash<QString, QString> geocoderParts{
                {QStringLiteral("key"), QString::fromLatin1(QUrl::toPercentEncoding(config.geocoderKey))},
                {QStringLiteral("country"),
                 country.isEmpty()
                     ? QString()
                     : UrlTemplate::insertParts(g->countryPart, {{QStringLiteral("country"), country}})}};
            c.geocoderUrl = UrlTemplate::withServer(UrlTemplate::insertParts(g->geocoderUrl, geocoderParts),
                                                    config.server);
            c.geocoderRequestsPerSecond = g->geocoderRequestsPerSecond;
        } else {
            c.geocoderUrl = config.geocoderUrl;
            c.latPath = config.latPath;
            c.lonPath = config.lonPath;
        }
    }
    return c;
}

QString providerConfigProblem(const GatewayConfig& given)
{
    const auto setting = [](const char* name, const QString& problem) {
        return problem.isEmpty()
                   ? QString()
                   : QStringLiteral("The setting %1 in gateway.conf %2").arg(QLatin1String(name), problem);
    };
    if (given.source == GatewayConfig::Source::Preset) {
        const Presets::Preset* p = Presets::find(given.preset);
        if (!p) {
            return QStringLiteral("The setting [gateway] source in gateway.conf names no known provider");
        }
        if (p->needsKey && given.key.isEmpty()) {
            return QStringLiteral("%1 needs a key in gateway.conf ([gateway] key); get one at %2")
                .arg(p->name, p->signUpUrl);
        }
        static const QRegularExpression safeStyle(QStringLiteral("^[A-Za-z0-9_.-]+(/[A-Za-z0-9_.-]+)?$"));
        if (!given.style.isEmpty() && !safeStyle.match(given.style).hasMatch()) {
            return QStringLiteral(
                       "The setting [gateway] style in gateway.conf must be a style name such as %1")
                .arg(p->styleDefault);
        }
        if (p->geocoderUrl.isEmpty() && given.geocoderUrl.isEmpty() && given.geocoderKey.isEmpty()) {
            const Presets::Preset* g =
                Presets::find(given.geocoderPreset.isEmpty() ? p->geocoderFrom : given.geocoderPreset);
            return QStringLiteral("%1 has no geocoder: give gateway.conf a key for %2's in [geocoder] (key), "
                                  "or name another provider there (provider)")
                .arg(p->name, g ? g->name : QStringLiteral("another provider"));
        }
    }
    const GatewayConfig config = resolvePreset(given);
    const QStringList geocoderPlaceholders{QStringLiteral("search"), QStringLiteral("key"),
                                           QStringLiteral("country")};
    QString problem;
    switch (config.source) {
    case GatewayConfig::Source::Demo:
    case GatewayConfig::Source::Preset:
        return {};
    case GatewayConfig::Source::Static: {
        const bool coordinates = config.staticUrl.contains(QLatin1String("{lat}")) ||
                                 config.staticUrl.contains(QLatin1String("{lon}"));
        problem = setting(
            "[static] url",
            UrlTemplate::problem(config.staticUrl,
                                 coordinates ? QStringList{QStringLiteral("lat"), QStringLiteral("lon")}
                                             : QStringList{QStringLiteral("search")},
                                 {QStringLiteral("search"), QStringLiteral("zoom"), QStringLiteral("width"),
                                  QStringLiteral("height"), QStringLiteral("key"), QStringLiteral("lat"),
                                  QStringLiteral("lon")}));
        if (problem.isEmpty() && coordinates) {
            problem =
                setting("[geocoder] url", UrlTemplate::problem(config.geocoderUrl, {QStringLiteral("search")},
                                                               geocoderPlaceholders));
        }
        return problem;
    }
    case GatewayConfig::Source::Tiles:
        problem = setting("[tiles] geocoder",
                          localFilesProblem(config.geocoderUrl, QLatin1String("gazetteer"))
                              .value_or(UrlTemplate::problem(config.geocoderUrl, {QStringLiteral("search")},
                                                             geocoderPlaceholders)));
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

std::unique_ptr<MapSource> createProviderSource(const GatewayConfig& given, QObject* parent)
{
    if (given.source == GatewayConfig::Source::Demo) {
        return nullptr;
    }
    if (const QString problem = providerConfigProblem(given); !problem.isEmpty()) {
        return std::make_unique<UnusableSource>(problem, parent);
    }
    const GatewayConfig config = resolvePreset(given);
    if (config.source == GatewayConfig::Source::Static) {
        StaticSource::Options options;
        const Presets::Preset* p =
            given.source == GatewayConfig::Source::Preset ? Presets::find(given.preset) : nullptr;
        if (p) {
            options.zoomOffset = p->zoom == Presets::ZoomTiles::Of512 ? 1 : 0;
            options.drawPin = config.marker && p->markerPart.isEmpty();
            options.detail = config.pictureSize == 1280 && p->doubleDetailPart.isEmpty() ? 2 : 1;
        } else {
            // A template of the user's that asks for a marker draws its own.
            static const QRegularExpression asksMarker(QStringLiteral("marker|pin-|locations="),
                                                       QRegularExpression::CaseInsensitiveOption);
            options.drawPin = config.marker && !asksMarker.match(config.staticUrl).hasMatch();
            options.detail = config.pictureSize == 1280 ? 2 : 1;
        }
        return std::make_unique<StaticSource>(config, clientSettings(config), options, parent);
    }
    return std::make_unique<TilesSource>(config, clientSettings(config), parent);
}
