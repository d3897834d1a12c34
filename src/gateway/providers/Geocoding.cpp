#include "Geocoding.h"

#include "Reasons.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cmath>
#include <optional>

namespace {

std::optional<double> number(const QJsonValue& v)
{
    if (v.isDouble()) {
        return v.toDouble();
    }
    if (v.isString()) {
        bool ok = false;
        const double d = v.toString().trimmed().toDouble(&ok);
        if (ok) {
            return d;
        }
    }
    return std::nullopt;
}

bool usable(double lat, double lon)
{
    return std::isfinite(lat) && std::isfinite(lon) && std::abs(lat) <= 90 && std::abs(lon) <= 180;
}

GeocoderAnswer found(double lat, double lon)
{
    return GeocoderAnswer{GeocoderAnswer::Kind::Found, lat, lon, {}};
}

GeocoderAnswer failure(GeocoderAnswer::Kind kind, const QString& detail = {})
{
    return GeocoderAnswer{kind, 0, 0, detail};
}

// A place from an object holding lat and lng (or lon).
std::optional<GeocoderAnswer> point(const QJsonObject& o, QLatin1String lonName)
{
    const auto lat = number(o.value(QLatin1String("lat")));
    const auto lon = number(o.value(lonName));
    if (lat && lon && usable(*lat, *lon)) {
        return found(*lat, *lon);
    }
    return std::nullopt;
}

std::optional<GeocoderAnswer> lonLat(const QJsonArray& c)
{
    const auto lon = number(c.at(0));
    const auto lat = number(c.at(1));
    if (c.size() >= 2 && lat && lon && usable(*lat, *lon)) {
        return found(*lat, *lon);
    }
    return std::nullopt;
}

GeocoderAnswer fromPlaces(const QJsonArray& places)
{
    bool shaped = places.isEmpty();
    for (const QJsonValue& place : places) {
        const QJsonObject o = place.toObject();
        shaped = shaped || (o.contains(QLatin1String("lat")) && o.contains(QLatin1String("lon")));
        if (const auto p = point(o, QLatin1String("lon"))) {
            return *p;
        }
    }
    // An array of something else is not a geocoder answer we know, rather than no place.
    return failure(shaped ? GeocoderAnswer::Kind::NotFound : GeocoderAnswer::Kind::Unreadable);
}

GeocoderAnswer fromFeatures(const QJsonArray& features)
{
    for (const QJsonValue& feature : features) {
        const QJsonObject f = feature.toObject();
        const QJsonObject geometry = f.value(QLatin1String("geometry")).toObject();
        if (geometry.value(QLatin1String("type")).toString() == QLatin1String("Point")) {
            if (const auto p = lonLat(geometry.value(QLatin1String("coordinates")).toArray())) {
                return *p;
            }
        }
        if (const auto p = lonLat(f.value(QLatin1String("center")).toArray())) {
            return *p;
        }
        // Areas come with a box [west, south, east, north]: its middle will do.
        const QJsonArray box = f.value(QLatin1String("bbox")).toArray();
        if (box.size() >= 4) {
            const auto w = number(box.at(0));
            const auto s = number(box.at(1));
            const auto e = number(box.at(box.size() / 2));
            const auto n = number(box.at(box.size() / 2 + 1));
            if (w && s && e && n) {
                const double lon = *e >= *w ? (*w + *e) / 2 : std::remainder((*w + *e + 360) / 2, 360.0);
                if (usable((*s + *n) / 2, lon)) {
                    return found((*s + *n) / 2, lon);
                }
            }
        }
    }
    return failure(GeocoderAnswer::Kind::NotFound);
}

// Google's status words.
std::optional<GeocoderAnswer> fromStatus(const QString& status, const QString& message)
{
    if (status == QLatin1String("OK")) {
        return std::nullopt;
    }
    if (status == QLatin1String("ZERO_RESULTS")) {
        return failure(GeocoderAnswer::Kind::NotFound);
    }
    if (status == QLatin1String("REQUEST_DENIED") || status == QLatin1String("OVER_DAILY_LIMIT")) {
        return failure(GeocoderAnswer::Kind::KeyRefused, message);
    }
    if (status == QLatin1String("OVER_QUERY_LIMIT")) {
        return failure(GeocoderAnswer::Kind::Busy, message);
    }
    return failure(GeocoderAnswer::Kind::Failed, message.isEmpty() ? status : message);
}

// An "error" member, as a string or an object with a message, sorted by what it says.
GeocoderAnswer fromError(const QJsonValue& error)
{
    QString text = error.toString();
    if (error.isObject()) {
        const QJsonObject o = error.toObject();
        for (const char* name : {"message", "description", "error_description", "code"}) {
            if (o.value(QLatin1String(name)).isString()) {
                text = o.value(QLatin1String(name)).toString();
                break;
            }
        }
    }
    const QString lower = text.toLower();
    for (const char* word : {"key", "token", "unauthori", "denied", "forbidden", "credential"}) {
        if (lower.contains(QLatin1String(word))) {
            return failure(GeocoderAnswer::Kind::KeyRefused, text);
        }
    }
    for (const char* word : {"limit", "quota", "too many", "rate"}) {
        if (lower.contains(QLatin1String(word))) {
            return failure(GeocoderAnswer::Kind::Busy, text);
        }
    }
    return failure(GeocoderAnswer::Kind::Failed, text);
}

QJsonValue at(QJsonValue v, const QString& path)
{
    for (const QString& step : path.split(u'.')) {
        bool index = false;
        const int i = step.toInt(&index);
        if (index && v.isArray()) {
            v = v.toArray().at(i);
        } else if (v.isObject()) {
            v = v.toObject().value(step);
        } else {
            return QJsonValue(QJsonValue::Undefined);
        }
    }
    return v;
}

GeocoderAnswer fromObject(const QJsonObject& root)
{
    const QJsonArray results = root.value(QLatin1String("results")).toArray();
    if (root.value(QLatin1String("status")).isString() && root.contains(QLatin1String("results"))) {
        if (auto f = fromStatus(root.value(QLatin1String("status")).toString(),
                                root.value(QLatin1String("error_message")).toString())) {
            return *f;
        }
        for (const QJsonValue& r : results) {
            const QJsonObject location = r.toObject()
                                             .value(QLatin1String("geometry"))
                                             .toObject()
                                             .value(QLatin1String("location"))
                                             .toObject();
            if (const auto p = point(location, QLatin1String("lng"))) {
                return *p;
            }
        }
        return failure(GeocoderAnswer::Kind::NotFound);
    }
    if (root.value(QLatin1String("info")).isObject()) {
        // MapQuest: 0 is success; 400s are the request's or the key's fault, 500 the service's.
        const QJsonObject info = root.value(QLatin1String("info")).toObject();
        const int code = info.value(QLatin1String("statuscode")).toInt();
        const QString message = info.value(QLatin1String("messages")).toArray().at(0).toString();
        if (code == 401 || code == 403) {
            return failure(GeocoderAnswer::Kind::KeyRefused, message);
        }
        if (code != 0) {
            return failure(GeocoderAnswer::Kind::Failed, message);
        }
        for (const QJsonValue& r : results) {
            for (const QJsonValue& l : r.toObject().value(QLatin1String("locations")).toArray()) {
                const QJsonObject latLng = l.toObject().value(QLatin1String("latLng")).toObject();
                if (const auto p = point(latLng, QLatin1String("lng"))) {
                    return *p;
                }
            }
        }
        return failure(GeocoderAnswer::Kind::NotFound);
    }
    if (root.contains(QLatin1String("error"))) {
        return fromError(root.value(QLatin1String("error")));
    }
    if (root.value(QLatin1String("type")).toString() == QLatin1String("FeatureCollection") &&
        root.value(QLatin1String("features")).isArray()) {
        return fromFeatures(root.value(QLatin1String("features")).toArray());
    }
    if (root.value(QLatin1String("items")).isArray()) { // HERE
        for (const QJsonValue& item : root.value(QLatin1String("items")).toArray()) {
            if (const auto p = point(item.toObject().value(QLatin1String("position")).toObject(),
                                     QLatin1String("lng"))) {
                return *p;
            }
        }
        return failure(GeocoderAnswer::Kind::NotFound);
    }
    if (root.value(QLatin1String("results")).isArray()) { // TomTom
        bool shaped = results.isEmpty();
        for (const QJsonValue& r : results) {
            const QJsonObject position = r.toObject().value(QLatin1String("position")).toObject();
            shaped = shaped || !position.isEmpty();
            if (const auto p = point(position, QLatin1String("lon"))) {
                return *p;
            }
        }
        return failure(shaped ? GeocoderAnswer::Kind::NotFound : GeocoderAnswer::Kind::Unreadable);
    }
    return failure(GeocoderAnswer::Kind::Unreadable);
}

} // namespace

GeocoderAnswer readGeocoderAnswer(const QByteArray& body, const GeocoderPaths& paths)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || doc.isNull()) {
        return {};
    }
    if (!paths.isEmpty()) {
        const QJsonValue root = doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
        const auto lat = number(at(root, paths.latitude));
        const auto lon = number(at(root, paths.longitude));
        if (lat && lon && usable(*lat, *lon)) {
            return found(*lat, *lon);
        }
        // Nothing there: a failure the answer reports, or no place.
        const GeocoderAnswer known = doc.isObject() ? fromObject(doc.object()) : fromPlaces(doc.array());
        return known.kind == GeocoderAnswer::Kind::Found || known.kind == GeocoderAnswer::Kind::Unreadable
                   ? failure(GeocoderAnswer::Kind::NotFound)
                   : known;
    }
    return doc.isArray() ? fromPlaces(doc.array()) : fromObject(doc.object());
}

MapAnswer geocoderFailure(const GeocoderAnswer& answer, const QString& search, const QString& key)
{
    const QString said = answer.detail.isEmpty() ? QString() : QStringLiteral(": ") + answer.detail;
    switch (answer.kind) {
    case GeocoderAnswer::Kind::KeyRefused:
        return MapAnswer::failure(
            502, Reasons::toPhrase(QStringLiteral("The geocoder refused the key") + said, key));
    case GeocoderAnswer::Kind::Busy:
        return MapAnswer::failure(
            503, Reasons::toPhrase(QStringLiteral("The geocoder is busy; try again later"), key));
    case GeocoderAnswer::Kind::Failed:
        return MapAnswer::failure(502, Reasons::toPhrase(QStringLiteral("The geocoder failed") + said, key));
    case GeocoderAnswer::Kind::Unreadable:
        return MapAnswer::failure(502, "The geocoder sent an answer that could not be read");
    case GeocoderAnswer::Kind::Found:
    case GeocoderAnswer::Kind::NotFound:
        break;
    }
    return MapAnswer::failure(
        404, Reasons::toPhrase(QStringLiteral("No place found for %1").arg(Reasons::quoted(search)), key));
}

QString geocoderProblem(const QByteArray& body, const GeocoderPaths& paths, const QString& key)
{
    const GeocoderAnswer answer = readGeocoderAnswer(body, paths);
    if (answer.kind == GeocoderAnswer::Kind::Found || answer.kind == GeocoderAnswer::Kind::NotFound) {
        return {};
    }
    return QString::fromLatin1(geocoderFailure(answer, {}, key).reason);
}
