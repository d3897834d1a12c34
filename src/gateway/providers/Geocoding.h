#pragma once

#include "MapSource.h"

#include <QByteArray>
#include <QString>

// Reading a geocoder's answer. The common shapes are recognised by themselves, the first usable
// place winning (geocoders rank their answers):
//   - a Nominatim-style array of places with "lat" and "lon" (strings or numbers);
//   - a GeoJSON FeatureCollection: a Point geometry ([lon, lat]), Mapbox's and MapTiler's
//     "center" ([lon, lat]), or a "bbox" whose middle is taken;
//   - Google Geocoding: results[].geometry.location {lat, lng}, with its "status";
//   - MapQuest: results[].locations[].latLng {lat, lng}, with info.statuscode;
//   - HERE: items[].position {lat, lng};
//   - TomTom: results[].position {lat, lon}.
// Geocoders that report a failure inside a 200 answer (a status such as REQUEST_DENIED, an
// "error" object) are read as that failure.
struct GeocoderAnswer
{
    enum class Kind
    {
        Found,
        NotFound,   // a well-formed answer with no usable place
        Unreadable, // not JSON, or JSON of no shape we know
        KeyRefused, // the geocoder says the key is not good (or not allowed this)
        Busy,       // over a rate or quota limit
        Failed      // some other failure the geocoder reported
    };
    Kind kind = Kind::Unreadable;
    double latitude = 0;
    double longitude = 0;
    QString detail; // what the geocoder said, for a failure
};

// Where the place is in answers of another shape: dotted paths such as
// "results.0.geometry.location.lat" (names of members, numbers for array elements).
struct GeocoderPaths
{
    QString latitude;
    QString longitude;
    bool isEmpty() const { return latitude.isEmpty() || longitude.isEmpty(); }
};

GeocoderAnswer readGeocoderAnswer(const QByteArray& body, const GeocoderPaths& paths = {});

// The failure the gateway answers with for an answer that found nothing usable: 404 for no place,
// the key reason, busy, or what the geocoder said. key is masked out of the reason.
MapAnswer geocoderFailure(const GeocoderAnswer& answer, const QString& search, const QString& key);

// For a geocoder's 200 answer before it is kept: empty when it may be cached (a place, or none),
// else the reason of the failure it reports (which is not kept).
QString geocoderProblem(const QByteArray& body, const GeocoderPaths& paths, const QString& key);
