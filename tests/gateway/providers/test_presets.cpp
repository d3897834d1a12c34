// Every named provider against its stand-in on loopback: the documented address is asked, with
// the same ground scale whatever the provider's zoom convention, the country reaches the
// geocoder, the pin is asked of the provider or drawn on the place, 1280 pictures come at twice
// the detail, and a refused key gives the key reason. Also the forms of coordinates.
#include "Coordinates.h"
#include "Pin.h"
#include "Presets.h"
#include "ProviderSources.h"
#include "ProviderStandIn.h"

#include <QDirIterator>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString Key = QStringLiteral("PRESET-KEY-0042");
const QString GeocoderKey = QStringLiteral("GEOCODER-KEY-0077");
using Endpoint = ProviderStandIn::Endpoint;

MapAnswer render(MapSource& source, const QString& search)
{
    MapAnswer answer;
    int answers = 0;
    source.render(MapRequest{search, 12, {640, 640}}, QDeadlineTimer(5000), [&](const MapAnswer& a) {
        answer = a;
        ++answers;
    });
    if (!QTest::qWaitFor([&] { return answers > 0; }, 7000)) {
        answer = MapAnswer::failure(0, "no answer");
    }
    return answer;
}

} // namespace

class TestPresets : public QObject
{
    Q_OBJECT
private slots:
    void presets_data();
    void presets();
    void customSources_data();
    void customSources();
    void coordinates_data();
    void coordinates();
};

void TestPresets::presets_data()
{
    QTest::addColumn<QString>("preset");
    QTest::addColumn<bool>("marker");
    QTest::addColumn<int>("pictureSize");
    QTest::addColumn<QByteArray>("geocoderAsks"); // empty: no geocoder
    QTest::addColumn<QByteArray>("pictureAsks");  // of the picture, or of one tile
    QTest::addColumn<QByteArray>("pinAsked");     // empty: the gateway draws the pin

    // Zoom 12 on 256-pixel maps is zoom 11 for the GL-rendered APIs (mapbox, maptiler, geoapify).
    QTest::newRow("google") << "google" << true << 640 << QByteArray()
                            << QByteArray(
                                   "/maps/api/staticmap?center=Haverhill%20MA&zoom=12&size=640x640&maptype="
                                   "roadmap")
                            << QByteArray("&markers=Haverhill%20MA&key=");
    QTest::newRow("google 1280") << "google" << true << 1280 << QByteArray()
                                 << QByteArray("&zoom=12&size=640x640&scale=2&") << QByteArray("&markers=");
    QTest::newRow("mapquest") << "mapquest" << true << 640 << QByteArray()
                              << QByteArray(
                                     "/staticmap/v5/map?key=PRESET-KEY-0042&center=Haverhill%20MA&zoom=12"
                                     "&size=640,640&type=map")
                              << QByteArray("&locations=Haverhill%20MA");
    QTest::newRow("mapquest 1280, no pin")
        << "mapquest" << false << 1280 << QByteArray() << QByteArray("&size=640,640@2x") << QByteArray();
    QTest::newRow("mapbox")
        << "mapbox" << true << 640
        << QByteArray("/search/geocode/v6/forward?q=Haverhill%20MA&limit=1&country=us&access_token=")
        << QByteArray("/styles/v1/mapbox/streets-v12/static/pin-s+e03c31(") << QByteArray(")/");
    QTest::newRow("mapbox 1280") << "mapbox" << true << 1280 << QByteArray("country=us")
                                 << QByteArray(",11/640x640@2x?access_token=") << QByteArray("pin-s");
    QTest::newRow("maptiler") << "maptiler" << true << 640
                              << QByteArray(
                                     "/geocoding/Haverhill%20MA.json?key=PRESET-KEY-0042&limit=1&country=us")
                              << QByteArray(",11/640x640.png?key=") << QByteArray("&markers=");
    QTest::newRow("geoapify")
        << "geoapify" << true << 640
        << QByteArray("/v1/geocode/search?text=Haverhill%20MA&limit=1&filter=countrycode:us")
        << QByteArray("/v1/staticmap?style=osm-bright&width=640&height=640&center=lonlat:")
        << QByteArray("&marker=lonlat:");
    QTest::newRow("geoapify 1280") << "geoapify" << true << 1280 << QByteArray("filter=countrycode:us")
                                   << QByteArray("&zoom=11&scaleFactor=2") << QByteArray("&marker=");
    QTest::newRow("stadia") << "stadia" << true << 640
                            << QByteArray(
                                   "/geocoding/v1/search?text=Haverhill%20MA&size=1&boundary.country=us")
                            << QByteArray("/static/alidade_smooth.png?center=") << QByteArray();
    QTest::newRow("stadia 1280") << "stadia" << true << 1280 << QByteArray("boundary.country=us")
                                 << QByteArray("&zoom=12&size=640x640@2x") << QByteArray();
    QTest::newRow("maptiler tiles") << "maptiler-tiles" << true << 640
                                    << QByteArray("/geocoding/Haverhill%20MA.json")
                                    << QByteArray("/maps/streets-v2/256/12/") << QByteArray();
    QTest::newRow("maptiler tiles 1280") << "maptiler-tiles" << true << 1280 << QByteArray("/geocoding/")
                                         << QByteArray("/maps/streets-v2/256/13/") << QByteArray();
    QTest::newRow("stadia tiles, no pin")
        << "stadia-tiles" << false << 640 << QByteArray("/geocoding/v1/search?")
        << QByteArray("/tiles/alidade_smooth/12/") << QByteArray();
    QTest::newRow("thunderforest, maptiler's geocoder")
        << "thunderforest" << true << 640
        << QByteArray("/geocoding/Haverhill%20MA.json?key=GEOCODER-KEY-0077") << QByteArray("/atlas/12/")
        << QByteArray();
}

void TestPresets::presets()
{
    QFETCH(QString, preset);
    QFETCH(bool, marker);
    QFETCH(int, pictureSize);
    QFETCH(QByteArray, geocoderAsks);
    QFETCH(QByteArray, pictureAsks);
    QFETCH(QByteArray, pinAsked);

    ProviderStandIn standIn;
    QVERIFY(standIn.listen());
    standIn.setKey(Key);
    standIn.setOtherKey(GeocoderKey);
    QTemporaryDir cache;
    GatewayConfig c;
    c.source = GatewayConfig::Source::Preset;
    c.preset = preset;
    c.key = Key;
    c.server = standIn.baseUrl();
    c.country = QStringLiteral("US");
    c.marker = marker;
    c.pictureSize = pictureSize;
    c.cacheDirectory = cache.path();
    c.geocoderKey = GeocoderKey; // for tiles without a geocoder of their own: MapTiler's
    QCOMPARE(providerConfigProblem(c), QString());
    const auto source = createProviderSource(c);

    const MapAnswer answer = render(*source, QStringLiteral("Haverhill MA"));
    QCOMPARE(answer.status, 200);
    QImage picture = QImage::fromData(answer.body);
    const int side = 640 * pictureSize / 640;
    QCOMPARE(picture.size(), QSize(side, side));

    QByteArray geocoder;
    QByteArray asked;
    for (const ProviderStandIn::Request& r : standIn.requests()) {
        (r.endpoint == Endpoint::Geocoder ? geocoder : asked) += r.target + '\n';
    }
    QCOMPARE(geocoder.isEmpty(), geocoderAsks.isEmpty());
    QVERIFY2(geocoder.contains(geocoderAsks), geocoder.constData());
    QVERIFY2(asked.contains(pictureAsks), asked.constData());
    // Neither key is kept in the cache, whichever provider it belongs to.
    QDirIterator kept(cache.path(), QDir::Files, QDirIterator::Subdirectories);
    while (kept.hasNext()) {
        QFile file(kept.next());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY2(!bytes.contains(Key.toLatin1()) && !bytes.contains(GeocoderKey.toLatin1()),
                 qPrintable(file.fileName()));
    }
    // The pin: asked of the provider, or drawn by the gateway on the middle pixel, the place.
    if (!pinAsked.isEmpty()) {
        QVERIFY2(asked.contains(pinAsked), asked.constData());
    }
    const bool drawn = picture.pixel(side / 2, side / 2) == PinColour;
    QCOMPARE(drawn, marker && pinAsked.isEmpty());
    if (!marker) {
        QVERIFY(!asked.contains("marker") && !asked.contains("pin-") && !asked.contains("locations="));
    }

    // A location written as coordinates is not looked up.
    standIn.clearRequests();
    QCOMPARE(render(*source, QStringLiteral(" 42.7762, -71.0773")).status, 200);
    QCOMPARE(standIn.requestCount(Endpoint::Geocoder), 0);
    QVERIFY(standIn.requestCount(Endpoint::StaticMap) + standIn.requestCount(Endpoint::Tiles) > 0);

    // A refused key gives the key reason, whichever request met it first.
    c.key = QStringLiteral("WRONG-KEY");
    c.geocoderKey = c.key;
    const auto refused = createProviderSource(c);
    const MapAnswer bad = render(*refused, QStringLiteral("Groveland MA"));
    QCOMPARE(bad.status, 502);
    QVERIFY2(bad.reason.contains("refused the key"), bad.reason.constData());
    QVERIFY(!bad.reason.contains("WRONG-KEY"));
}

// The user's own templates: {lat} {lon} {country}, the pin drawn on the place, print size.
void TestPresets::customSources_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("marker");
    QTest::addColumn<int>("pictureSize");
    QTest::addColumn<QByteArray>("asks");
    QTest::newRow("static, coordinates") << "static {lat}" << true << 640 << QByteArray("center=");
    QTest::newRow("static, no pin") << "static" << false << 640
                                    << QByteArray("center=Haverhill%20MA&zoom=12");
    QTest::newRow("static, 1280") << "static" << true << 1280 << QByteArray("&zoom=13&size=1280x1280");
    QTest::newRow("tiles") << "tiles" << true << 640 << QByteArray("/tiles/12/");
    QTest::newRow("tiles, no pin") << "tiles" << false << 640 << QByteArray("/tiles/12/");
    QTest::newRow("tiles, 1280") << "tiles" << true << 1280 << QByteArray("/tiles/13/");
}

void TestPresets::customSources()
{
    QFETCH(QString, source);
    QFETCH(bool, marker);
    QFETCH(int, pictureSize);
    QFETCH(QByteArray, asks);
    ProviderStandIn standIn;
    QVERIFY(standIn.listen());
    standIn.setKey(Key);
    QTemporaryDir cache;
    GatewayConfig c;
    c.key = Key;
    c.cacheDirectory = cache.path();
    c.marker = marker;
    c.pictureSize = pictureSize;
    c.country = QStringLiteral("US");
    c.geocoderUrl = standIn.nominatimTemplate() + QStringLiteral("&countrycodes={country}");
    c.tileUrl = standIn.tileTemplate();
    c.source =
        source == QLatin1String("tiles") ? GatewayConfig::Source::Tiles : GatewayConfig::Source::Static;
    c.staticUrl =
        source == QLatin1String("static {lat}")
            ? standIn.baseUrl() +
                  QStringLiteral("/staticmap?center={lat},{lon}&zoom={zoom}&size={width}x{height}&key={key}")
            : standIn.staticTemplate() + QStringLiteral("&format=jpg");
    QCOMPARE(providerConfigProblem(c), QString());
    const auto s = createProviderSource(c);
    const MapAnswer answer = render(*s, QStringLiteral("Haverhill MA"));
    QCOMPARE(answer.status, 200);
    const QImage picture = QImage::fromData(answer.body);
    QCOMPARE(picture.size(), QSize(pictureSize, pictureSize));
    QCOMPARE(picture.pixel(pictureSize / 2, pictureSize / 2) == PinColour, marker);

    QByteArray geocoder;
    QByteArray asked;
    for (const ProviderStandIn::Request& r : standIn.requests()) {
        (r.endpoint == Endpoint::Geocoder ? geocoder : asked) += r.target + '\n';
    }
    QVERIFY2(asked.contains(asks), asked.constData());
    if (source == QLatin1String("static {lat}")) {
        double lat = 0;
        double lon = 0;
        ProviderStandIn::placeOf(QStringLiteral("Haverhill MA"), &lat, &lon);
        QVERIFY2(asked.contains(coordinatesText({lat, lon}).toLatin1()), asked.constData());
    }
    QCOMPARE(geocoder.contains("&countrycodes=us"), source != QLatin1String("static"));
}

void TestPresets::coordinates_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<double>("lat");
    QTest::addColumn<double>("lon");
    QTest::newRow("comma") << "42.7762,-71.0773" << true << 42.7762 << -71.0773;
    QTest::newRow("comma and space") << " 42.7762, -71.0773 " << true << 42.7762 << -71.0773;
    QTest::newRow("space") << "42.7762 -71.0773" << true << 42.7762 << -71.0773;
    QTest::newRow("signs") << "+42.7762 , +71.0773" << true << 42.7762 << 71.0773;
    QTest::newRow("edges") << "-90.0,180.0" << true << -90.0 << 180.0;
    QTest::newRow("latitude out of range") << "90.5,10.0" << false << 0.0 << 0.0;
    QTest::newRow("longitude out of range") << "10.0,180.01" << false << 0.0 << 0.0;
    QTest::newRow("trailing comma") << "42.7762," << false << 0.0 << 0.0;
    QTest::newRow("hemisphere letter") << "N42.7,W71.0" << false << 0.0 << 0.0;
    QTest::newRow("zip code") << "01830" << false << 0.0 << 0.0;
    QTest::newRow("whole numbers") << "221 12" << false << 0.0 << 0.0;
    QTest::newRow("three numbers") << "42.7,-71.0,3.0" << false << 0.0 << 0.0;
    QTest::newRow("address") << "12.5 Main St" << false << 0.0 << 0.0;
}

void TestPresets::coordinates()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    const std::optional<LatLon> place = parseCoordinates(text);
    QCOMPARE(place.has_value(), valid);
    if (valid) {
        QFETCH(double, lat);
        QFETCH(double, lon);
        QCOMPARE(place->latitude, lat);
        QCOMPARE(place->longitude, lon);
    }
}

QTEST_MAIN(TestPresets)
#include "test_presets.moc"
