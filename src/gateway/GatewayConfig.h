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
        Tiles,
        Preset // a provider the gateway knows by name (providers/Presets.h)
    };
    Source source = Source::Demo;
    QString preset; // Source::Preset: the preset's id, in lower case

    // A preset's server (scheme, host, port) in place of the provider's own: a company proxy,
    // a regional endpoint. Empty: the provider's.
    QString server;
    // A preset's style option (map id, style name); empty: the preset's default.
    QString style;

    // A pin at the place on every picture.
    bool marker = true;
    // 640: pictures as the program asks them. 1280: twice the width and height over the same
    // ground, drawn at twice the detail, for print.
    int pictureSize = 640;
    // ISO 3166-1 alpha-2 code (upper case) passed to geocoders that take one; empty: none.
    QString country;

    // The provider's key, substituted for {key}; it goes nowhere else.
    QString key;

    // static: one request per picture. Placeholders {search} {zoom} {width} {height} {key},
    // or {lat} {lon} in place of {search} (the geocoder below finds them first), each
    // percent-encoded where it stands.
    QString staticUrl;

    // tiles: a geocoder ({search} {key} {country}) and an XYZ raster tile server ({z} {x} {y} {key}),
    // or files on this computer: geocoder = gazetteer:/path, ... and tiles = mbtiles:/path, ...
    QString geocoderUrl;
    // Where the geocoder's answer holds the place, as dotted paths such as
    // results.0.geometry.location.lat; empty: the known answer shapes are recognised.
    QString latPath;
    QString lonPath;
    // A preset whose geocoder places tiles that come without one (Thunderforest), with its own key.
    QString geocoderPreset;
    QString geocoderKey;
    QString tileUrl;
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
