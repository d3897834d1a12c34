// Every named provider against its stand-in on loopback: the documented address is asked, with
// the same ground scale whatever the provider's zoom convention, the country reaches the
// geocoder, the pin is asked of the provider or drawn on the place, 1280 pictures come at twice
// the detail, and a refused key gives the key reason. The user's own templates likewise. Also the
// forms of coordinates.
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
    void sources_data();
    void sources();
    void coordinates_data();
    void coordinates();
};

// Each named provider, and the user's own templates ({lat} {lon} {country}, "static" or "tiles").
// Zoom 12 on 256-pixel maps is zoom 11 for the GL-rendered APIs (mapbox, maptiler, geoapify).
// Geocoder empty: none is asked. Picture: of the picture or of one tile. Pin empty: the gateway
// draws it.
struct Row
{
    const char* preset;
    bool marker;
    int size;
    const char *geocoder, *picture, *pin;
};
const Row Rows[] = {
    {"google", true, 640, "",
     "/maps/api/staticmap?center=Haverhill%20MA&zoom=12&size=640x640&maptype=roadmap",
     "&markers=Haverhill%20MA&key="},
    {"google", true, 1280, "", "&zoom=12&size=640x640&scale=2&", "&markers="},
    {"mapquest", true, 640, "",
     "/staticmap/v5/map?key=PRESET-KEY-0042&center=Haverhill%20MA&zoom=12&size=640,640&type=map",
     "&locations=Haverhill%20MA"},
    {"mapquest", false, 1280, "", "&size=640,640@2x", ""},
    {"mapbox", true, 640, "/search/geocode/v6/forward?q=Haverhill%20MA&limit=1&country=us&access_token=",
     "/styles/v1/mapbox/streets-v12/static/pin-s+e03c31(", ")/"},
    {"mapbox", true, 1280, "country=us", ",11/640x640@2x?access_token=", "pin-s"},
    {"maptiler", true, 640, "/geocoding/Haverhill%20MA.json?key=PRESET-KEY-0042&limit=1&country=us",
     ",11/640x640.png?key=", "&markers="},
    {"geoapify", true, 640, "/v1/geocode/search?text=Haverhill%20MA&limit=1&filter=countrycode:us",
     "/v1/staticmap?style=osm-bright&width=640&height=640&center=lonlat:", "&marker=lonlat:"},
    {"geoapify", true, 1280, "filter=countrycode:us", "&zoom=11&scaleFactor=2", "&marker="},
    {"stadia", true, 640, "/geocoding/v1/search?text=Haverhill%20MA&size=1&boundary.country=us",
     "/static/alidade_smooth.png?center=", ""},
    {"stadia", true, 1280, "boundary.country=us", "&zoom=12&size=640x640@2x", ""},
    {"maptiler-tiles", true, 640, "/geocoding/Haverhill%20MA.json", "/maps/streets-v2/256/12/", ""},
    {"maptiler-tiles", true, 1280, "/geocoding/", "/maps/streets-v2/256/13/", ""},
    {"stadia-tiles", false, 640, "/geocoding/v1/search?", "/tiles/alidade_smooth/12/", ""},
    {"thunderforest", true, 640, "/geocoding/Haverhill%20MA.json?key=GEOCODER-KEY-0077", "/atlas/12/", ""},
    {"static {lat}", true, 640, "&countrycodes=us", "center=", ""},
    {"static", false, 640, "", "center=Haverhill%20MA&zoom=12", ""},
    {"static", true, 1280, "", "&zoom=13&size=1280x1280", ""},
    {"tiles", true, 640, "&countrycodes=us", "/tiles/12/", ""},
    {"tiles", true, 1280, "&countrycodes=us", "/tiles/13/", ""},
};

void TestPresets::sources_data()
{
    QTest::addColumn<int>("row");
    for (int i = 0; i < int(std::size(Rows)); ++i) {
        QTest::addRow("%s %d%s", Rows[i].preset, Rows[i].size, Rows[i].marker ? "" : ", no pin") << i;
    }
}

void TestPresets::sources()
{
    QFETCH(int, row);
    const Row& r = Rows[row];
    const QString preset = QString::fromLatin1(r.preset);

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
    c.marker = r.marker;
    c.pictureSize = r.size;
    c.cacheDirectory = cache.path();
    c.geocoderKey = GeocoderKey; // for tiles without a geocoder of their own: MapTiler's
    const bool own = preset.startsWith(QLatin1String("static")) || preset == QLatin1String("tiles");
    if (own) {
        c.source =
            preset == QLatin1String("tiles") ? GatewayConfig::Source::Tiles : GatewayConfig::Source::Static;
        c.geocoderUrl = standIn.nominatimTemplate() + QStringLiteral("&countrycodes={country}");
        c.tileUrl = standIn.tileTemplate();
        c.staticUrl = preset == QLatin1String("static {lat}")
                          ? standIn.baseUrl() + QStringLiteral("/staticmap?center={lat},{lon}&zoom={zoom}"
                                                               "&size={width}x{height}&key={key}")
                          : standIn.staticTemplate() + QStringLiteral("&format=jpg");
    }
    QCOMPARE(providerConfigProblem(c), QString());
    const auto source = createProviderSource(c);

    const MapAnswer answer = render(*source, QStringLiteral("Haverhill MA"));
    QCOMPARE(answer.status, 200);
    const QImage picture = QImage::fromData(answer.body);
    QCOMPARE(picture.size(), QSize(r.size, r.size));

    QByteArray geocoder;
    QByteArray asked;
    for (const ProviderStandIn::Request& q : standIn.requests()) {
        (q.endpoint == Endpoint::Geocoder ? geocoder : asked) += q.target + '\n';
    }
    QCOMPARE(geocoder.isEmpty(), !*r.geocoder);
    QVERIFY2(geocoder.contains(r.geocoder), geocoder.constData());
    QVERIFY2(asked.contains(r.picture), asked.constData());
    if (preset == QLatin1String("static {lat}")) {
        double lat = 0, lon = 0;
        ProviderStandIn::placeOf(QStringLiteral("Haverhill MA"), &lat, &lon);
        QVERIFY2(asked.contains(coordinatesText({lat, lon}).toLatin1()), asked.constData());
    }
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
    QVERIFY2(asked.contains(r.pin), asked.constData());
    QCOMPARE(picture.pixel(r.size / 2, r.size / 2) == PinColour, r.marker && !*r.pin);
    if (!r.marker) {
        QVERIFY(!asked.contains("marker") && !asked.contains("pin-") && !asked.contains("locations="));
    }
    if (own) {
        return;
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
