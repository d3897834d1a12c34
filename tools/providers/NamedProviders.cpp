// The stand-ins for the providers the gateway knows by name, each answering on the paths, with the
// parameters, key parameter and answer shapes of that provider's documentation (the pages are named
// in the gateway's provider table), on the one loopback port.
#include "ProviderStandIn.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrlQuery>

namespace {

enum class Shape
{
    Google,   // {"results":[{"geometry":{"location":{lat,lng}}}],"status":..}
    Features, // a GeoJSON FeatureCollection of Points, with "center" and "bbox" as well
    Picture,
    Tile
};

// One documented request: where it goes, how the key is passed and how a bad key is refused.
struct Route
{
    const char* provider;
    const char* path; // a pattern over the path
    const char* keyParam;
    int badKeyStatus; // 200: the refusal is inside a 200 answer
    Shape shape;
};

const Route Routes[] = {
    {"google", "^/maps/api/staticmap$", "key", 403, Shape::Picture},
    {"google", "^/maps/api/geocode/json$", "key", 200, Shape::Google},
    {"mapquest", "^/staticmap/v5/map$", "key", 401, Shape::Picture},
    {"mapbox",
     "^/styles/v1/[^/]+/[^/]+/static/(?:[^/]+/)?(-?[\\d.]+),(-?[\\d.]+),([\\d.]+)/(\\d+)x(\\d+)(@2x)?$",
     "access_token", 401, Shape::Picture},
    {"mapbox", "^/search/geocode/v6/forward$", "access_token", 401, Shape::Features},
    {"maptiler", "^/maps/[^/]+/static/(-?[\\d.]+),(-?[\\d.]+),([\\d.]+)/(\\d+)x(\\d+)(@2x)?\\.png$", "key",
     403, Shape::Picture},
    {"maptiler", "^/maps/[^/]+/256/(\\d+)/(\\d+)/(\\d+)\\.png$", "key", 403, Shape::Tile},
    {"maptiler", "^/geocoding/([^/]+)\\.json$", "key", 403, Shape::Features},
    {"geoapify", "^/v1/staticmap$", "apiKey", 401, Shape::Picture},
    {"geoapify", "^/v1/geocode/search$", "apiKey", 401, Shape::Features},
    {"stadia", "^/static/[^/]+\\.png$", "api_key", 401, Shape::Picture},
    {"stadia", "^/tiles/[^/]+/(\\d+)/(\\d+)/(\\d+)\\.png$", "api_key", 401, Shape::Tile},
    {"stadia", "^/geocoding/v1/search$", "api_key", 401, Shape::Features},
    {"thunderforest", "^/(?!tiles/|tiles512/)[a-z0-9-]+/(\\d+)/(\\d+)/(\\d+)\\.png$", "apikey", 401,
     Shape::Tile},
};

QString value(const QUrlQuery& q, const char* name)
{
    return q.queryItemValue(QLatin1String(name), QUrl::FullyDecoded);
}

} // namespace

bool ProviderStandIn::handleNamed(HttpExchange* exchange, const QByteArray& rawPath, const QUrlQuery& query)
{
    const QString path = QUrl::fromPercentEncoding(rawPath);
    const Route* route = nullptr;
    QRegularExpressionMatch m;
    for (const Route& r : Routes) {
        m = QRegularExpression(QLatin1String(r.path)).match(path);
        if (m.hasMatch()) {
            route = &r;
            break;
        }
    }
    if (!route) {
        return false;
    }
    const Endpoint endpoint = route->shape == Shape::Picture ? Endpoint::StaticMap
                              : route->shape == Shape::Tile  ? Endpoint::Tiles
                                                             : Endpoint::Geocoder;
    const HttpRequest& request = exchange->request();
    m_requests.append(Request{m_clock.elapsed(), endpoint, request.target, request.header("User-Agent")});
    const QString provider = QLatin1String(route->provider);

    if (!keyTaken(value(query, route->keyParam))) {
        if (route->badKeyStatus == 200) {
            HttpAnswer a;
            a.contentType = "application/json; charset=UTF-8";
            a.body =
                R"({"error_message":"The provided API key is invalid.","results":[],"status":"REQUEST_DENIED"})";
            exchange->respond(a);
        } else {
            exchange->respond(HttpAnswer::text(route->badKeyStatus,
                                               route->badKeyStatus == 401 ? "Unauthorized" : "Forbidden",
                                               R"({"message":"Invalid key"})"));
        }
        return true;
    }

    HttpAnswer good;
    if (route->shape == Shape::Tile) {
        good.contentType = "image/png";
        good.body = tile(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(), 256);
    } else if (route->shape == Shape::Picture) {
        // What each provider calls the centre, the zoom, the size and twice the detail.
        QString centre;
        int zoom = 0;
        QSize size;
        int scale = 1;
        if (provider != QLatin1String("geoapify") && query.hasQueryItem(QStringLiteral("center"))) {
            // google, mapquest, stadia: center=, zoom=, size=WxH (W,H for mapquest), @2x or scale=2
            centre = value(query, "center");
            zoom = value(query, "zoom").toInt();
            QString s = value(query, "size");
            if (s.endsWith(QLatin1String("@2x"))) {
                scale = 2;
                s.chop(3);
            }
            const QStringList wh = s.split(provider == QLatin1String("mapquest") ? u',' : u'x');
            size = QSize(wh.value(0).toInt(), wh.value(1).toInt());
            scale = value(query, "scale") == QLatin1String("2") ? 2 : scale;
        } else if (provider == QLatin1String("geoapify")) {
            centre = value(query, "center").remove(QLatin1String("lonlat:"));
            const QStringList lonLat = centre.split(u',');
            centre = lonLat.value(1) + u',' + lonLat.value(0);
            zoom = value(query, "zoom").toInt();
            size = QSize(value(query, "width").toInt(), value(query, "height").toInt());
            scale = value(query, "scaleFactor") == QLatin1String("2") ? 2 : 1;
        } else { // mapbox, maptiler: lon,lat,zoom/WxH@2x in the path
            centre = m.captured(2) + u',' + m.captured(1);
            zoom = int(m.captured(3).toDouble());
            size = QSize(m.captured(4).toInt(), m.captured(5).toInt());
            scale = m.captured(6).isEmpty() ? 1 : 2;
        }
        if (size.width() < 1 || size.height() < 1 || size.width() * scale > 4096 ||
            size.height() * scale > 4096) {
            exchange->respond(HttpAnswer::text(400, "Bad Request", "bad size"));
            return true;
        }
        good.contentType = "image/png";
        good.body = staticMap(centre, zoom, size * scale, false);
    } else {
        const QString search = provider == QLatin1String("maptiler") ? m.captured(1)
                               : provider == QLatin1String("google") ? value(query, "address")
                               : provider == QLatin1String("mapbox") ? value(query, "q")
                                                                     : value(query, "text");
        const bool found = !search.contains(QLatin1String("xyzzy"), Qt::CaseInsensitive);
        double lat = 0;
        double lon = 0;
        placeOf(search, &lat, &lon);
        QJsonDocument doc;
        if (route->shape == Shape::Google) {
            QJsonArray results;
            if (found) {
                results.append(QJsonObject{
                    {QStringLiteral("formatted_address"), search},
                    {QStringLiteral("geometry"),
                     QJsonObject{{QStringLiteral("location"), QJsonObject{{QStringLiteral("lat"), lat},
                                                                          {QStringLiteral("lng"), lon}}}}}});
            }
            doc.setObject(QJsonObject{
                {QStringLiteral("results"), results},
                {QStringLiteral("status"), found ? QStringLiteral("OK") : QStringLiteral("ZERO_RESULTS")}});
        } else {
            QJsonArray features;
            if (found) {
                features.append(QJsonObject{
                    {QStringLiteral("type"), QStringLiteral("Feature")},
                    {QStringLiteral("center"), QJsonArray{lon, lat}},
                    {QStringLiteral("bbox"), QJsonArray{lon - 0.01, lat - 0.01, lon + 0.01, lat + 0.01}},
                    {QStringLiteral("geometry"),
                     QJsonObject{{QStringLiteral("type"), QStringLiteral("Point")},
                                 {QStringLiteral("coordinates"), QJsonArray{lon, lat}}}},
                    {QStringLiteral("properties"), QJsonObject{{QStringLiteral("name"), search}}}});
            }
            doc.setObject(QJsonObject{{QStringLiteral("type"), QStringLiteral("FeatureCollection")},
                                      {QStringLiteral("features"), features}});
        }
        good.contentType = "application/json; charset=utf-8";
        good.body = doc.toJson(QJsonDocument::Compact);
    }
    if (!m_cacheControl.isEmpty()) {
        good.headers.append({"Cache-Control", m_cacheControl});
    }
    exchange->respond(good);
    return true;
}
