#pragma once

#include <QByteArray>

// Reading a geocoder's answer. Two shapes are understood: a Nominatim-style JSON array of
// places with "lat" and "lon" (strings or numbers), and a GeoJSON FeatureCollection whose
// features have a Point geometry ([lon, lat]) or a "bbox". The first usable place wins: the
// geocoders rank their answers.
struct GeocoderAnswer
{
    enum class Kind
    {
        Found,
        NotFound,  // a well-formed answer with no usable place
        Unreadable // not JSON, or JSON of neither shape
    };
    Kind kind = Kind::Unreadable;
    double latitude = 0;
    double longitude = 0;
};

GeocoderAnswer readGeocoderAnswer(const QByteArray& body);
