#include "Presets.h"

namespace Presets {

namespace {

// One row per provider. Every address, parameter and answer shape is the provider's own, from the
// documentation page named in the row's comment; the gateway's stand-ins in tools/providers follow
// the same pages.
QList<Preset> table()
{
    QList<Preset> rows;

    // https://developers.google.com/maps/documentation/maps-static/start (center as an address,
    // zoom, size=WxH up to 640x640, scale=2, markers=<location>, key).
    Preset google;
    google.id = QStringLiteral("google");
    google.name = QStringLiteral("Google Maps Static API");
    google.kind = Kind::FreeTextStatic;
    google.keyName = QStringLiteral("API key");
    google.styleName = QStringLiteral("map type");
    google.styleDefault = QStringLiteral("roadmap");
    google.signUpUrl =
        QStringLiteral("https://developers.google.com/maps/documentation/maps-static/get-api-key");
    google.termsUrl = QStringLiteral("https://cloud.google.com/maps-platform/terms");
    google.server = QStringLiteral("https://maps.googleapis.com");
    google.staticUrl =
        QStringLiteral("https://maps.googleapis.com/maps/api/staticmap?center={search}&zoom={zoom}"
                       "&size={width}x{height}{scale}&maptype={style}{marker}&key={key}");
    google.markerPart = QStringLiteral("&markers={search}");
    google.doubleDetailPart = QStringLiteral("&scale=2");
    google.maxPictureSide = 640;
    google.documentation =
        QStringLiteral("https://developers.google.com/maps/documentation/maps-static/start");
    rows << google;

    // https://developer.mapquest.com/documentation/api/static-map/getting-started.html (center as
    // an address or lat,lng, zoom 0..20, size=W,H with @2x, locations= for markers, key).
    Preset mapquest;
    mapquest.id = QStringLiteral("mapquest");
    mapquest.name = QStringLiteral("MapQuest Static Map API v5");
    mapquest.kind = Kind::FreeTextStatic;
    mapquest.keyName = QStringLiteral("API key");
    mapquest.styleName = QStringLiteral("map type");
    mapquest.styleDefault = QStringLiteral("map");
    mapquest.signUpUrl = QStringLiteral("https://developer.mapquest.com/user/me/apps");
    mapquest.termsUrl = QStringLiteral("https://hello.mapquest.com/terms-of-use");
    mapquest.server = QStringLiteral("https://www.mapquestapi.com");
    mapquest.staticUrl =
        QStringLiteral("https://www.mapquestapi.com/staticmap/v5/map?key={key}&center={search}"
                       "&zoom={zoom}&size={width},{height}{scale}&type={style}{marker}");
    mapquest.markerPart = QStringLiteral("&locations={search}");
    mapquest.doubleDetailPart = QStringLiteral("@2x");
    mapquest.maxZoom = 20;
    mapquest.maxPictureSide = 1920;
    mapquest.documentation =
        QStringLiteral("https://developer.mapquest.com/documentation/api/static-map/getting-started.html");
    rows << mapquest;

    // Static: https://docs.mapbox.com/api/maps/static-images (styles/v1/{username}/{style_id}/static/
    // {overlay}/{lon},{lat},{zoom}/{width}x{height}{@2x}, pin-s overlay, access_token, zoom on
    // 512-pixel tiles, 1280 at most). Geocoder: https://docs.mapbox.com/api/search/geocoding/
    // (search/geocode/v6/forward?q=, country=, a GeoJSON FeatureCollection of Points).
    // Rates: 1,250 static pictures and 1,000 geocoding requests a minute.
    Preset mapbox;
    mapbox.id = QStringLiteral("mapbox");
    mapbox.name = QStringLiteral("Mapbox Static Images");
    mapbox.kind = Kind::CoordinateStatic;
    mapbox.keyName = QStringLiteral("access token");
    mapbox.styleName = QStringLiteral("style (username/style id)");
    mapbox.styleDefault = QStringLiteral("mapbox/streets-v12");
    mapbox.signUpUrl = QStringLiteral("https://account.mapbox.com/auth/signup/");
    mapbox.termsUrl = QStringLiteral("https://www.mapbox.com/legal/tos");
    mapbox.server = QStringLiteral("https://api.mapbox.com");
    mapbox.staticUrl =
        QStringLiteral("https://api.mapbox.com/styles/v1/{style}/static/{marker}{lon},{lat},{zoom}/"
                       "{width}x{height}{scale}?access_token={key}");
    mapbox.geocoderUrl = QStringLiteral(
        "https://api.mapbox.com/search/geocode/v6/forward?q={search}&limit=1{country}&access_token={key}");
    mapbox.countryPart = QStringLiteral("&country={country}");
    mapbox.markerPart = QStringLiteral("pin-s+e03c31({lon},{lat})/");
    mapbox.doubleDetailPart = QStringLiteral("@2x");
    mapbox.zoom = ZoomTiles::Of512;
    mapbox.maxZoom = 22;
    mapbox.staticRequestsPerSecond = 20;
    mapbox.geocoderRequestsPerSecond = 16;
    mapbox.documentation = QStringLiteral(
        "https://docs.mapbox.com/api/maps/static-images https://docs.mapbox.com/api/search/geocoding/");
    rows << mapbox;

    // Static: https://docs.maptiler.com/cloud/api/static-maps/ and
    // https://docs.maptiler.com/guides/maps-apis/static-maps/static-map-area/
    // (maps/{mapId}/static/{lon},{lat},{zoom}/{width}x{height}{@2x}.{format}?key=, markers=lon,lat,color,
    // zoom "in the tile pyramid based on 512x512 tiles"). Geocoder:
    // https://docs.maptiler.com/cloud/api/geocoding/ (geocoding/{query}.json?key=, country=, a GeoJSON
    // FeatureCollection with center).
    Preset maptiler;
    maptiler.id = QStringLiteral("maptiler");
    maptiler.name = QStringLiteral("MapTiler static maps");
    maptiler.kind = Kind::CoordinateStatic;
    maptiler.keyName = QStringLiteral("API key");
    maptiler.styleName = QStringLiteral("map id");
    maptiler.styleDefault = QStringLiteral("streets-v2");
    maptiler.signUpUrl = QStringLiteral("https://cloud.maptiler.com/auth/widget?mode=signup");
    maptiler.termsUrl = QStringLiteral("https://www.maptiler.com/terms/");
    maptiler.server = QStringLiteral("https://api.maptiler.com");
    maptiler.staticUrl = QStringLiteral("https://api.maptiler.com/maps/{style}/static/{lon},{lat},{zoom}/"
                                        "{width}x{height}{scale}.png?key={key}{marker}");
    maptiler.geocoderUrl =
        QStringLiteral("https://api.maptiler.com/geocoding/{search}.json?key={key}&limit=1{country}");
    maptiler.countryPart = QStringLiteral("&country={country}");
    maptiler.markerPart = QStringLiteral("&markers={lon},{lat},red");
    maptiler.doubleDetailPart = QStringLiteral("@2x");
    maptiler.zoom = ZoomTiles::Of512;
    maptiler.maxZoom = 22;
    maptiler.maxPictureSide = 2048;
    maptiler.geocoderRequestsPerSecond = 5;
    maptiler.documentation = QStringLiteral("https://docs.maptiler.com/cloud/api/static-maps/ "
                                            "https://docs.maptiler.com/cloud/api/geocoding/");
    rows << maptiler;

    // Static: https://apidocs.geoapify.com/docs/maps/static (maps.geoapify.com/v1/staticmap,
    // center=lonlat:, zoom, width, height, scaleFactor=2, marker=lonlat:..;color:..;size:..,
    // apiKey; rendered from GL styles, so zoom is taken as counted on 512-pixel tiles: the page does
    // not say which, check a picture against a tile map when in doubt). Geocoder:
    // https://apidocs.geoapify.com/docs/geocoding/forward-geocoding/ (v1/geocode/search?text=,
    // filter=countrycode:, a GeoJSON FeatureCollection). Free plan: 5 requests a second.
    Preset geoapify;
    geoapify.id = QStringLiteral("geoapify");
    geoapify.name = QStringLiteral("Geoapify Static Maps");
    geoapify.kind = Kind::CoordinateStatic;
    geoapify.keyName = QStringLiteral("API key");
    geoapify.styleName = QStringLiteral("style");
    geoapify.styleDefault = QStringLiteral("osm-bright");
    geoapify.signUpUrl = QStringLiteral("https://myprojects.geoapify.com/register");
    geoapify.termsUrl = QStringLiteral("https://www.geoapify.com/terms-and-conditions/");
    geoapify.server = QStringLiteral("https://maps.geoapify.com");
    geoapify.staticUrl =
        QStringLiteral("https://maps.geoapify.com/v1/staticmap?style={style}&width={width}&height={height}"
                       "&center=lonlat:{lon},{lat}&zoom={zoom}{scale}{marker}&format=png&apiKey={key}");
    geoapify.geocoderUrl = QStringLiteral(
        "https://api.geoapify.com/v1/geocode/search?text={search}&limit=1{country}&apiKey={key}");
    geoapify.countryPart = QStringLiteral("&filter=countrycode:{country}");
    geoapify.markerPart = QStringLiteral("&marker=lonlat:{lon},{lat};color:%23e03c31;size:medium");
    geoapify.doubleDetailPart = QStringLiteral("&scaleFactor=2");
    geoapify.zoom = ZoomTiles::Of512;
    geoapify.maxPictureSide = 4096;
    geoapify.staticRequestsPerSecond = 5;
    geoapify.geocoderRequestsPerSecond = 5;
    geoapify.documentation = QStringLiteral("https://apidocs.geoapify.com/docs/maps/static "
                                            "https://apidocs.geoapify.com/docs/geocoding/forward-geocoding/");
    rows << geoapify;

    // Static: https://docs.stadiamaps.com/static-maps/ (tiles.stadiamaps.com/static/<style>.png,
    // center=lat,lon, zoom, size=WxH with @2x, api_key). Its marker syntax is not used: the gateway
    // draws the pin. Zoom as on its 256-pixel raster tiles (the page does not say otherwise). Geocoder:
    // https://docs.stadiamaps.com/geocoding-search-autocomplete/search/
    // (api.stadiamaps.com/geocoding/v1/search?text=, boundary.country=, GeoJSON).
    Preset stadia;
    stadia.id = QStringLiteral("stadia");
    stadia.name = QStringLiteral("Stadia Maps static maps");
    stadia.kind = Kind::CoordinateStatic;
    stadia.keyName = QStringLiteral("API key");
    stadia.styleName = QStringLiteral("style");
    stadia.styleDefault = QStringLiteral("alidade_smooth");
    stadia.signUpUrl = QStringLiteral("https://client.stadiamaps.com/signup/");
    stadia.termsUrl = QStringLiteral("https://stadiamaps.com/terms-of-service/");
    stadia.server = QStringLiteral("https://tiles.stadiamaps.com");
    stadia.staticUrl = QStringLiteral("https://tiles.stadiamaps.com/static/{style}.png?center={lat},{lon}"
                                      "&zoom={zoom}&size={width}x{height}{scale}&api_key={key}");
    stadia.geocoderUrl = QStringLiteral(
        "https://api.stadiamaps.com/geocoding/v1/search?text={search}&size=1{country}&api_key={key}");
    stadia.countryPart = QStringLiteral("&boundary.country={country}");
    stadia.doubleDetailPart = QStringLiteral("@2x");
    stadia.geocoderRequestsPerSecond = 5;
    stadia.documentation =
        QStringLiteral("https://docs.stadiamaps.com/static-maps/ "
                       "https://docs.stadiamaps.com/geocoding-search-autocomplete/search/");
    rows << stadia;

    // Tiles: https://docs.maptiler.com/cloud/api/maps/ (maps/{mapId}/256/{z}/{x}/{y}.png?key=, raster
    // tiles of 256 pixels), with MapTiler's geocoder as above. Attribution as its terms ask.
    Preset maptilerTiles = maptiler;
    maptilerTiles.id = QStringLiteral("maptiler-tiles");
    maptilerTiles.name = QStringLiteral("MapTiler raster tiles");
    maptilerTiles.kind = Kind::Tiles;
    maptilerTiles.staticUrl.clear();
    maptilerTiles.markerPart.clear();
    maptilerTiles.doubleDetailPart.clear();
    maptilerTiles.tileUrl =
        QStringLiteral("https://api.maptiler.com/maps/{style}/256/{z}/{x}/{y}.png?key={key}");
    maptilerTiles.tileSize = 256;
    maptilerTiles.zoom = ZoomTiles::Of256;
    maptilerTiles.attribution = QStringLiteral("\u00a9 MapTiler \u00a9 OpenStreetMap contributors");
    maptilerTiles.tileRequestsPerSecond = 0;
    maptilerTiles.documentation = QStringLiteral(
        "https://docs.maptiler.com/cloud/api/maps/ https://docs.maptiler.com/cloud/api/geocoding/");
    rows << maptilerTiles;

    // Tiles: https://docs.stadiamaps.com/raster/ (tiles.stadiamaps.com/tiles/<style>/{z}/{x}/{y}.png,
    // 256 pixels, api_key), with Stadia's geocoder as above.
    Preset stadiaTiles = stadia;
    stadiaTiles.id = QStringLiteral("stadia-tiles");
    stadiaTiles.name = QStringLiteral("Stadia Maps raster tiles");
    stadiaTiles.kind = Kind::Tiles;
    stadiaTiles.staticUrl.clear();
    stadiaTiles.doubleDetailPart.clear();
    stadiaTiles.tileUrl =
        QStringLiteral("https://tiles.stadiamaps.com/tiles/{style}/{z}/{x}/{y}.png?api_key={key}");
    stadiaTiles.attribution = QStringLiteral("\u00a9 Stadia Maps \u00a9 OpenMapTiles \u00a9 OpenStreetMap");
    stadiaTiles.documentation =
        QStringLiteral("https://docs.stadiamaps.com/raster/ "
                       "https://docs.stadiamaps.com/geocoding-search-autocomplete/search/");
    rows << stadiaTiles;

    // Tiles: https://www.thunderforest.com/docs/map-tiles-api/ (tile.thunderforest.com/{style}/{z}/{x}/
    // {y}.png?apikey=, 256 pixels). No geocoder of its own: MapTiler's unless [geocoder] names
    // another, with its own key.
    Preset thunderforest;
    thunderforest.id = QStringLiteral("thunderforest");
    thunderforest.name = QStringLiteral("Thunderforest map tiles");
    thunderforest.kind = Kind::Tiles;
    thunderforest.keyName = QStringLiteral("API key");
    thunderforest.styleName = QStringLiteral("style");
    thunderforest.styleDefault = QStringLiteral("atlas");
    thunderforest.signUpUrl = QStringLiteral("https://manage.thunderforest.com/users/sign_up");
    thunderforest.termsUrl = QStringLiteral("https://www.thunderforest.com/terms/");
    thunderforest.attribution =
        QStringLiteral("Maps \u00a9 Thunderforest, Data \u00a9 OpenStreetMap contributors");
    thunderforest.server = QStringLiteral("https://tile.thunderforest.com");
    thunderforest.tileUrl =
        QStringLiteral("https://tile.thunderforest.com/{style}/{z}/{x}/{y}.png?apikey={key}");
    thunderforest.geocoderFrom = QStringLiteral("maptiler");
    thunderforest.maxZoom = 22;
    thunderforest.documentation = QStringLiteral("https://www.thunderforest.com/docs/map-tiles-api/");
    rows << thunderforest;

    return rows;
}

} // namespace

const QList<Preset>& all()
{
    static const QList<Preset> presets = table();
    return presets;
}

const Preset* find(const QString& id)
{
    for (const Preset& p : all()) {
        if (p.id.compare(id, Qt::CaseInsensitive) == 0) {
            return &p;
        }
    }
    return nullptr;
}

QString kindName(Kind kind)
{
    switch (kind) {
    case Kind::FreeTextStatic:
        return QStringLiteral("Static map, free text");
    case Kind::CoordinateStatic:
        return QStringLiteral("Static map, coordinates");
    case Kind::Tiles:
        return QStringLiteral("Map tiles");
    }
    return {};
}

} // namespace Presets
