#include "ConfigFile.h"

#include "Presets.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QUrl>

#include <cmath>
#include <functional>
#include <map>

namespace ConfigFile {

QString defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/orrowdale/gateway.conf");
}

QString defaultCacheDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/orrowdale/gateway");
}

QString displayPath(const QString& path)
{
    const QString home = QDir::homePath();
    if (!home.isEmpty() && home != QLatin1String("/") && path.startsWith(home + QLatin1Char('/'))) {
        return QStringLiteral("~") + path.mid(home.size());
    }
    return path;
}

namespace {

bool isWebTemplate(const QString& value)
{
    const QUrl url(value);
    const QString scheme = url.scheme().toLower();
    return (scheme == QLatin1String("http") || scheme == QLatin1String("https")) && !url.host().isEmpty();
}

} // namespace

Reading parse(const QByteArray& text)
{
    Reading out;
    GatewayConfig& c = out.config;
    c.cacheDirectory = defaultCacheDirectory();

    using Setter = std::function<QString(const QString&)>; // an empty answer: accepted
    auto rate = [](double& target) {
        return [&target](const QString& v) {
            bool ok = false;
            const double value = v.toDouble(&ok);
            if (!ok || !std::isfinite(value) || value < 0 || value > 1000) {
                return QStringLiteral("needs a number of requests per second from 0 (no limit) to 1000");
            }
            target = value;
            return QString();
        };
    };
    auto url = [](QString& target, const QStringList& placeholders) {
        return [&target, placeholders](const QString& v) {
            if (v.isEmpty()) {
                target.clear();
                return QString();
            }
            if (!isWebTemplate(v)) {
                return QStringLiteral("needs an http:// or https:// address");
            }
            for (const QString& p : placeholders) {
                if (!v.contains(p)) {
                    return QStringLiteral("needs the placeholder %1").arg(p);
                }
            }
            target = v;
            return QString();
        };
    };
    auto path = [](QString& target) {
        return [&target](const QString& v) {
            static const QRegularExpression dotted(
                QStringLiteral("^([A-Za-z0-9_$@-]+)(\\.[A-Za-z0-9_$@-]+)*$"));
            if (!v.isEmpty() && !dotted.match(v).hasMatch()) {
                return QStringLiteral("needs names and numbers joined by dots, such as results.0.lat");
            }
            target = v;
            return QString();
        };
    };
    // Files on this computer instead of a web address: "mbtiles:/path, mbtiles:/other/path".
    auto urlOrFiles = [&url](QString& target, const QStringList& placeholders, QLatin1String scheme) {
        return [&target, web = url(target, placeholders), scheme](const QString& v) {
            if (v.startsWith(scheme, Qt::CaseInsensitive)) {
                target = v;
                return QString();
            }
            return web(v);
        };
    };
    // One setting, also taken in [tiles] beside the place files it picks among.
    const Setter country = [&c](const QString& v) {
        static const QRegularExpression code(QStringLiteral("^[A-Za-z]{2}$"));
        if (!v.isEmpty() && !code.match(v).hasMatch()) {
            return QStringLiteral("country must be a two-letter code such as US or GB");
        }
        c.country = v.toUpper();
        return QString();
    };
    const std::map<QString, Setter> setters{
        {QStringLiteral("gateway/source"),
         [&c](const QString& v) {
             const QString s = v.toLower();
             if (s == QLatin1String("demo")) {
                 c.source = GatewayConfig::Source::Demo;
             } else if (s == QLatin1String("static")) {
                 c.source = GatewayConfig::Source::Static;
             } else if (s == QLatin1String("tiles")) {
                 c.source = GatewayConfig::Source::Tiles;
             } else if (const Presets::Preset* preset = Presets::find(s)) {
                 c.source = GatewayConfig::Source::Preset;
                 c.preset = preset->id;
             } else {
                 return QStringLiteral(
                     "source must be demo, static or tiles, or a provider's name such as maptiler");
             }
             return QString();
         }},
        {QStringLiteral("gateway/server"),
         [&c](const QString& v) {
             if (v.isEmpty()) {
                 c.server.clear();
                 return QString();
             }
             const QUrl u(v);
             if (!isWebTemplate(v) || (!u.path().isEmpty() && u.path() != QLatin1String("/")) ||
                 u.hasQuery() || u.hasFragment()) {
                 return QStringLiteral("server needs an address such as https://host:port, nothing after it");
             }
             // Addresses are joined to it, each starting with its own '/'.
             c.server = v.endsWith(u'/') ? v.chopped(1) : v;
             return QString();
         }},
        {QStringLiteral("gateway/style"),
         [&c](const QString& v) {
             c.style = v;
             return QString();
         }},
        {QStringLiteral("gateway/marker"),
         [&c](const QString& v) {
             const QString s = v.toLower();
             if (s == QLatin1String("on") || s == QLatin1String("yes") || s == QLatin1String("true")) {
                 c.marker = true;
             } else if (s == QLatin1String("off") || s == QLatin1String("no") ||
                        s == QLatin1String("false")) {
                 c.marker = false;
             } else {
                 return QStringLiteral("marker must be on or off");
             }
             return QString();
         }},
        {QStringLiteral("gateway/picture_size"),
         [&c](const QString& v) {
             if (v != QLatin1String("640") && v != QLatin1String("1280")) {
                 return QStringLiteral("picture_size must be 640 or 1280");
             }
             c.pictureSize = v.toInt();
             return QString();
         }},
        {QStringLiteral("gateway/country"), country},
        {QStringLiteral("geocoder/url"), url(c.geocoderUrl, {QStringLiteral("{search}")})},
        {QStringLiteral("geocoder/lat_path"), path(c.latPath)},
        {QStringLiteral("geocoder/lon_path"), path(c.lonPath)},
        {QStringLiteral("geocoder/requests_per_second"), rate(c.geocoderRequestsPerSecond)},
        {QStringLiteral("geocoder/provider"),
         [&c](const QString& v) {
             const Presets::Preset* p = Presets::find(v);
             if (!v.isEmpty() && (!p || p->geocoderUrl.isEmpty())) {
                 return QStringLiteral(
                     "provider in [geocoder] must name a provider with a geocoder, such as maptiler");
             }
             c.geocoderPreset = p ? p->id : QString();
             return QString();
         }},
        {QStringLiteral("geocoder/key"),
         [&c](const QString& v) {
             c.geocoderKey = v;
             return QString();
         }},
        {QStringLiteral("gateway/key"),
         [&c](const QString& v) {
             c.key = v;
             return QString();
         }},
        {QStringLiteral("static/url"),
         [&c, check = url(c.staticUrl, {})](const QString& v) {
             const bool coordinates =
                 v.contains(QLatin1String("{lat}")) && v.contains(QLatin1String("{lon}"));
             if (!v.isEmpty() && !coordinates && !v.contains(QLatin1String("{search}"))) {
                 return QStringLiteral("needs the placeholder {search}, or {lat} and {lon}");
             }
             return check(v);
         }},
        {QStringLiteral("static/requests_per_second"), rate(c.staticRequestsPerSecond)},
        {QStringLiteral("tiles/geocoder"),
         urlOrFiles(c.geocoderUrl, {QStringLiteral("{search}")}, QLatin1String("gazetteer:"))},
        {QStringLiteral("tiles/tiles"),
         urlOrFiles(c.tileUrl, {QStringLiteral("{z}"), QStringLiteral("{x}"), QStringLiteral("{y}")},
                    QLatin1String("mbtiles:"))},
        {QStringLiteral("tiles/country"), country},
        {QStringLiteral("tiles/tile_size"),
         [&c](const QString& v) {
             if (v != QLatin1String("256") && v != QLatin1String("512")) {
                 return QStringLiteral("tile_size must be 256 or 512");
             }
             c.tileSize = v.toInt();
             return QString();
         }},
        {QStringLiteral("tiles/attribution"),
         [&c](const QString& v) {
             c.attribution = v;
             return QString();
         }},
        {QStringLiteral("tiles/geocoder_requests_per_second"), rate(c.geocoderRequestsPerSecond)},
        {QStringLiteral("tiles/tile_requests_per_second"), rate(c.tileRequestsPerSecond)},
        {QStringLiteral("limits/requests_per_host"),
         [&c](const QString& v) {
             bool ok = false;
             const int n = v.toInt(&ok);
             if (!ok || n < 1 || n > 16) {
                 return QStringLiteral("requests_per_host must be a whole number from 1 to 16");
             }
             c.requestsPerHost = n;
             return QString();
         }},
        {QStringLiteral("limits/cache_mb"),
         [&c](const QString& v) {
             bool ok = false;
             const qint64 n = v.toLongLong(&ok);
             if (!ok || n < 1 || n > 1'000'000) {
                 return QStringLiteral("cache_mb must be a whole number of megabytes from 1 to 1000000");
             }
             c.cacheBytes = n * 1024 * 1024;
             return QString();
         }},
        {QStringLiteral("limits/cache_dir"),
         [&c](const QString& v) {
             if (v.isEmpty()) {
                 c.cacheDirectory = defaultCacheDirectory();
                 return QString();
             }
             QString path = v;
             if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/"))) {
                 path = QDir::homePath() + path.mid(1);
             }
             if (QDir::isRelativePath(path)) {
                 return QStringLiteral("cache_dir must be a full path");
             }
             c.cacheDirectory = QDir::cleanPath(path);
             return QString();
         }},
    };

    // A byte-order mark from an editor is not part of the first line.
    QByteArray body = text.startsWith("\xEF\xBB\xBF") ? text.mid(3) : text;
    const QString all = QString::fromUtf8(body);
    QString section;
    int number = 0;
    for (QString line : all.split(QLatin1Char('\n'))) {
        ++number;
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')) || line.startsWith(QLatin1Char(';'))) {
            continue;
        }
        if (line.startsWith(QLatin1Char('['))) {
            if (!line.endsWith(QLatin1Char(']'))) {
                out.errors << QStringLiteral("line %1: a section heading needs a closing ]").arg(number);
                continue;
            }
            section = line.mid(1, line.size() - 2).trimmed().toLower();
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0) {
            out.errors << QStringLiteral("line %1: expected key = value").arg(number);
            continue;
        }
        const QString name = line.left(equals).trimmed().toLower();
        const QString value = line.mid(equals + 1).trimmed();
        const auto setter = setters.find(section + QLatin1Char('/') + name);
        if (setter == setters.end()) {
            out.warnings
                << QStringLiteral("line %1: unknown setting %2 in [%3]").arg(number).arg(name, section);
            continue;
        }
        const QString problem = setter->second(value);
        if (!problem.isEmpty()) {
            out.errors << QStringLiteral("line %1: %2").arg(number).arg(problem);
        }
    }

    // What the chosen source cannot do without.
    if (c.source == GatewayConfig::Source::Static && c.staticUrl.isEmpty()) {
        out.errors << QStringLiteral("source static needs url in [static]");
    }
    if (c.source == GatewayConfig::Source::Tiles && (c.geocoderUrl.isEmpty() || c.tileUrl.isEmpty())) {
        out.errors << QStringLiteral("source tiles needs geocoder and tiles in [tiles]");
    }
    if (c.source == GatewayConfig::Source::Static &&
        (c.staticUrl.contains(QLatin1String("{lat}")) || c.staticUrl.contains(QLatin1String("{lon}"))) &&
        c.geocoderUrl.isEmpty()) {
        out.errors << QStringLiteral("a static url with {lat} or {lon} needs url in [geocoder]");
    }
    if (c.latPath.isEmpty() != c.lonPath.isEmpty()) {
        out.errors << QStringLiteral("lat_path and lon_path in [geocoder] go together");
    }
    if (c.source == GatewayConfig::Source::Preset && c.key.isEmpty()) {
        if (const Presets::Preset* p = Presets::find(c.preset); p && p->needsKey) {
            out.errors << QStringLiteral("source %1 needs key in [gateway] (%2 gives one: %3)")
                              .arg(c.preset, p->name, p->signUpUrl);
        }
    }
    return out;
}

QByteArray templateText()
{
    return QByteArrayLiteral(
        "# Orrowdale map gateway: where the pictures come from.\n"
        "# A change here takes effect with the next picture; no restart is needed.\n"
        "# Keep this file private (readable by you only): it may hold your provider's key.\n"
        "# Check that your provider's terms allow keeping the pictures you capture.\n"
        "\n"
        "[gateway]\n"
        "# demo: offline pictures marked as demo maps. A provider by name (google, mapquest, mapbox,\n"
        "# maptiler, geoapify, stadia, maptiler-tiles, stadia-tiles, thunderforest), with its key,\n"
        "# or static or tiles: a provider of your own (below).\n"
        "source = demo\n"
        "# The provider's key, put where a template says {key}. It is sent nowhere else.\n"
        "# key = \n"
        "# The provider's map style (a map id, a style name); empty: its default.\n"
        "# style = \n"
        "# Another address for a named provider's server: a proxy, a regional endpoint.\n"
        "# server = https://proxy.example.com:8443\n"
        "# A pin at the place: on or off.\n"
        "# marker = on\n"
        "# 640, or 1280 for print (twice the detail over the same ground).\n"
        "# picture_size = 640\n"
        "# Where plain postcodes and names are looked for first (two-letter country code).\n"
        "# country = US\n"
        "\n"
        "[static]\n"
        "# A static-map API: one request per picture. Placeholders:\n"
        "# {search} {zoom} {width} {height} {key}, each percent-encoded where it stands.\n"
        "# url = "
        "https://maps.example.com/staticmap?center={search}&zoom={zoom}&size={width}x{height}&key={key}\n"
        "# requests_per_second = 0\n"
        "\n"
        "[tiles]\n"
        "# A geocoder ({search} {key}) answering a Nominatim-style JSON array or GeoJSON, and an\n"
        "# XYZ raster tile server ({z} {x} {y} {key}). Use your own or a commercial service: the\n"
        "# public OpenStreetMap servers do not allow this use.\n"
        "# geocoder = https://geocoder.example.com/search?q={search}&format=json&key={key}\n"
        "# tiles = https://tiles.example.com/{z}/{x}/{y}.png?key={key}\n"
        "# Or files on this computer, no network needed: GeoNames dumps or a CSV of name,lat,lon\n"
        "# for places, MBTiles files for tiles; several with commas, the first that has it wins.\n"
        "# geocoder = gazetteer:/path/to/US.txt, gazetteer:/path/to/cities500.txt\n"
        "# tiles = mbtiles:/path/to/region.mbtiles\n"
        "# country = US\n"
        "# tile_size = 256\n"
        "# attribution = Map data (c) the provider\n"
        "# geocoder_requests_per_second = 1\n"
        "# tile_requests_per_second = 0\n"
        "\n"
        "[geocoder]\n"
        "# For a static url with {lat} and {lon}: the geocoder asked first. Where its JSON answer\n"
        "# holds the place, when it is none of the common shapes:\n"
        "# url = https://geocoder.example.com/search?q={search}&key={key}\n"
        "# lat_path = results.0.geometry.location.lat\n"
        "# lon_path = results.0.geometry.location.lng\n"
        "# For map tiles that come without a geocoder (thunderforest): a provider's geocoder and key.\n"
        "# provider = maptiler\n"
        "# key = \n"
        "\n"
        "[limits]\n"
        "# requests_per_host = 1\n"
        "# cache_mb = 256\n"
        "# cache_dir = ~/.cache/orrowdale/gateway\n");
}

bool ensureExists(const QString& path, QString* error)
{
    if (QFileInfo::exists(path)) {
        return true;
    }
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath())) {
        *error = QStringLiteral("cannot create the folder %1").arg(info.absolutePath());
        return false;
    }
    // Written whole under another name, then renamed: no half-written file, and nobody else
    // can read it at any moment (a temporary file is made for its owner only).
    QTemporaryFile file(info.absolutePath() + QStringLiteral("/.gateway.conf.XXXXXX"));
    if (!file.open()) {
        *error = QStringLiteral("cannot write in %1: %2").arg(info.absolutePath(), file.errorString());
        return false;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray text = templateText();
    if (file.write(text) != text.size() || !file.flush()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    if (!file.rename(path)) {
        // Someone else made it meanwhile: theirs stands.
        if (QFileInfo::exists(path)) {
            return true;
        }
        *error = QStringLiteral("cannot create %1: %2").arg(path, file.errorString());
        return false;
    }
    file.setAutoRemove(false);
    return true;
}

} // namespace ConfigFile
