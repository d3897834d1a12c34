#include "Geocoding.h"

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
    return GeocoderAnswer{GeocoderAnswer::Kind::Found, lat, lon};
}

GeocoderAnswer fromPlaces(const QJsonArray& places)
{
    bool shaped = places.isEmpty();
    for (const QJsonValue& place : places) {
        const QJsonObject o = place.toObject();
        shaped = shaped || (o.contains(QLatin1String("lat")) && o.contains(QLatin1String("lon")));
        const auto lat = number(o.value(QLatin1String("lat")));
        const auto lon = number(o.value(QLatin1String("lon")));
        if (lat && lon && usable(*lat, *lon)) {
            return found(*lat, *lon);
        }
    }
    // An array of something else is not a geocoder answer we know, rather than no place.
    return GeocoderAnswer{shaped ? GeocoderAnswer::Kind::NotFound : GeocoderAnswer::Kind::Unreadable};
}

GeocoderAnswer fromFeatures(const QJsonArray& features)
{
    for (const QJsonValue& feature : features) {
        const QJsonObject f = feature.toObject();
        const QJsonObject geometry = f.value(QLatin1String("geometry")).toObject();
        if (geometry.value(QLatin1String("type")).toString() == QLatin1String("Point")) {
            const QJsonArray c = geometry.value(QLatin1String("coordinates")).toArray();
            const auto lon = number(c.at(0));
            const auto lat = number(c.at(1));
            if (c.size() >= 2 && lat && lon && usable(*lat, *lon)) {
                return found(*lat, *lon);
            }
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
    return GeocoderAnswer{GeocoderAnswer::Kind::NotFound};
}

} // namespace

GeocoderAnswer readGeocoderAnswer(const QByteArray& body)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError) {
        return {};
    }
    if (doc.isArray()) {
        return fromPlaces(doc.array());
    }
    const QJsonObject root = doc.object();
    if (root.value(QLatin1String("type")).toString() == QLatin1String("FeatureCollection") &&
        root.value(QLatin1String("features")).isArray()) {
        return fromFeatures(root.value(QLatin1String("features")).toArray());
    }
    return {};
}
