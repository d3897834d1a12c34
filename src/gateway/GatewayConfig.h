#pragma once

#include <QString>

// The gateway's settings as read from its configuration file. Anything the file leaves out
// keeps the value here.
struct GatewayConfig
{
    enum class Source
    {
        Demo,
        Static,
        Tiles
    };
    Source source = Source::Demo;

    // The provider's key, substituted for {key}; it goes nowhere else.
    QString key;

    // static: one request per picture. Placeholders {search} {zoom} {width} {height} {key},
    // each percent-encoded where it stands.
    QString staticUrl;

    // tiles: a geocoder ({search} {key}) and an XYZ raster tile server ({z} {x} {y} {key}), or
    // files on this computer: geocoder = gazetteer:/path, ... and tiles = mbtiles:/path, ...
    QString geocoderUrl;
    QString tileUrl;
    QString country;    // ISO code or country word: picks among namesakes in place files
    int tileSize = 256; // 256 or 512
    QString attribution;

    // Etiquette towards each provider host.
    double geocoderRequestsPerSecond = 1.0;
    double tileRequestsPerSecond = 0; // 0: no rate limit, only the concurrency bound
    double staticRequestsPerSecond = 0;
    int requestsPerHost = 1; // at most this many requests in flight per host

    // The disk cache for geocoding answers, tiles and static pictures.
    QString cacheDirectory; // empty: the gateway's default under the user's cache folder
    qint64 cacheBytes = 256LL * 1024 * 1024;

    // Named in the User-Agent of every provider request.
    QString contactUrl;
};
