#pragma once

#include <QList>
#include <QString>

// The map providers the gateway knows by name, so that a user only picks one and gives a key:
//
//   [gateway]
//   source = maptiler
//   key = ...
//
// Each preset holds the addresses the provider documents, as templates. Besides the
// placeholders of the custom sources ({search} {zoom} {width} {height} {key} {lat} {lon}
// {z} {x} {y}) a preset's templates use:
//
//   {style}     the preset's style option (a map id, a style name), or its default
//   {country}   the configured country, as the provider writes it (see countryPart)
//   {scale}     what makes the provider draw at twice the detail (see doubleDetail*)
//   {marker}    the preset's marker part when a pin is wanted, else nothing
//
// {scale}, {marker} and {country} stand for parts of the address, not values: they are put in
// as they are, and the placeholders inside them filled afterwards.
namespace Presets {

enum class Kind
{
    FreeTextStatic,   // a static-map API that finds the place itself
    CoordinateStatic, // a static-map API drawing at coordinates from the same provider's geocoder
    Tiles             // raster tiles stitched by the gateway, placed by a geocoder
};

// How zoom levels are counted. Maps drawn from GL styles count them on 512-pixel tiles, so
// their zoom z shows what 256-pixel maps show at z + 1; the gateway asks them one level less.
enum class ZoomTiles
{
    Of256,
    Of512
};

struct Preset
{
    QString id;   // as written after "source ="
    QString name; // as shown to a person
    Kind kind = Kind::CoordinateStatic;

    bool needsKey = true;
    QString keyName;      // what the provider calls the key: "API key", "access token"
    QString styleName;    // what the style option is called ("map id", "style"); empty: none
    QString styleDefault; // used when the configuration names no style
    QString signUpUrl;    // where to get a key
    QString termsUrl;     // the provider's terms of use
    QString attribution;  // drawn on pictures the gateway makes, where the terms ask for it

    // The provider's own server (scheme and host) for every address below; the configuration's
    // `server` setting replaces it (a company proxy, a regional endpoint, a test stand-in).
    QString server;
    QString staticUrl;        // FreeTextStatic and CoordinateStatic
    QString geocoderUrl;      // CoordinateStatic and Tiles; may hold {country}
    QString tileUrl;          // Tiles
    QString countryPart;      // added where {country} stands when a country is set, e.g. "&country={country}"
    QString markerPart;       // put where {marker} stands when a pin is wanted; empty: the gateway draws it
    QString doubleDetailPart; // put where {scale} stands for 1280 pictures; empty: not offered
    QString geocoderFrom;     // for tiles without a geocoder: whose geocoder is used unless another is named
    int tileSize = 256;       // Tiles
    ZoomTiles zoom = ZoomTiles::Of256;
    int maxZoom = 20;
    int maxPictureSide = 1280; // the largest width or height the static API draws at one scale

    // The provider's published limits, as the gateway's own pace towards it.
    double staticRequestsPerSecond = 0;
    double geocoderRequestsPerSecond = 1;
    double tileRequestsPerSecond = 0;

    QString documentation; // the provider's pages the addresses and answers were taken from
};

// Every preset, in the order a list shows them (grouped by kind).
const QList<Preset>& all();

// The preset with this id (case-insensitive), or null.
const Preset* find(const QString& id);

// "Static map, free text", "Static map, coordinates", "Map tiles".
QString kindName(Kind kind);

} // namespace Presets
