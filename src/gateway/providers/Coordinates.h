#pragma once

#include <QString>

#include <optional>

// A location the user wrote as coordinates needs no geocoder. Accepted: decimal degrees, latitude
// first, each number with a decimal point, separated by a comma or by spaces, spaces allowed
// around them: "42.7762,-71.0773", "42.7762, -71.0773", "42.7762 -71.0773", "+42.7762,-71.0773".
// Latitude must be within -90..90 and longitude within -180..180. Anything else (a zip code,
// "N42.7", "42.7762,") is a place to look up.
struct LatLon
{
    double latitude = 0;
    double longitude = 0;
};

std::optional<LatLon> parseCoordinates(const QString& text);

// "42.7762,-71.0773": how coordinates are written into a provider's address.
QString coordinatesText(const LatLon& place);
