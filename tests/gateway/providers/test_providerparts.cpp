// The pieces of the provider sources that need no network: reading geocoder answers and
// cache headers, placing tiles, stitching, provider addresses and reason phrases.
#include "Geocoding.h"
#include "HttpTimes.h"
#include "Pictures.h"
#include "ProviderSources.h"
#include "Reasons.h"
#include "Stitching.h"
#include "TileMath.h"
#include "UrlTemplate.h"
#include "WholePng.h"

#include <QAtomicInt>
#include <QBuffer>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <libdeflate.h>

#include <set>

using namespace std::chrono_literals;

class TestProviderParts : public QObject
{
    Q_OBJECT
private slots:
    void geocoderAnswers_data();
    void geocoderAnswers();
    void freshness_data();
    void freshness();
    void retryAfter_data();
    void retryAfter();
    void coverage_data();
    void coverage();
    void coverageWrapsAndStopsAtThePoles();
    void stitchedPictureShowsTilesBackgroundAndAttribution();
    void heldPictureOutlivesTheNextOne();
    void encodedPictureKeepsEveryPixel_data();
    void encodedPictureKeepsEveryPixel();
    void pngsDecodeAsQtDecodesThem_data();
    void pngsDecodeAsQtDecodesThem();
    void parallelWorkDoesEachOnce_data();
    void parallelWorkDoesEachOnce();
    void templates_data();
    void templates();
    void configProblems_data();
    void configProblems();
    void phrases_data();
    void phrases();
};

void TestProviderParts::geocoderAnswers_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("kind");
    QTest::addColumn<double>("lat");
    QTest::addColumn<double>("lon");
    const int found = int(GeocoderAnswer::Kind::Found);
    const int none = int(GeocoderAnswer::Kind::NotFound);
    const int bad = int(GeocoderAnswer::Kind::Unreadable);
    QTest::newRow("nominatim strings")
        << QByteArray(R"([{"lat":"42.7762","lon":"-71.0773","display_name":"Haverhill"}])") << found
        << 42.7762 << -71.0773;
    QTest::newRow("nominatim numbers, first usable wins")
        << QByteArray(R"([{"lat":"x","lon":"1"},{"lat":54.99,"lon":-7.32},{"lat":1,"lon":1}])") << found
        << 54.99 << -7.32;
    QTest::newRow("nominatim empty") << QByteArray("[]") << none << 0.0 << 0.0;
    QTest::newRow("nominatim out of range")
        << QByteArray(R"([{"lat":"91","lon":"0"}])") << none << 0.0 << 0.0;
    QTest::newRow("array of something else") << QByteArray(R"([{"name":"x"}])") << bad << 0.0 << 0.0;
    QTest::newRow("geojson point") << QByteArray(R"({"type":"FeatureCollection","features":[
        {"type":"Feature","geometry":{"type":"Point","coordinates":[-7.32,54.99]},"properties":{}}]})")
                                   << found << 54.99 << -7.32;
    QTest::newRow("geojson bbox") << QByteArray(R"({"type":"FeatureCollection","features":[
        {"type":"Feature","bbox":[10,40,12,44],"geometry":{"type":"Polygon","coordinates":[]}}]})")
                                  << found << 42.0 << 11.0;
    QTest::newRow("geojson bbox over the date line")
        << QByteArray(R"({"type":"FeatureCollection","features":[{"bbox":[170,-10,-170,10]}]})") << found
        << 0.0 << 180.0;
    QTest::newRow("geojson empty") << QByteArray(R"({"type":"FeatureCollection","features":[]})") << none
                                   << 0.0 << 0.0;
    QTest::newRow("malformed") << QByteArray(R"([{"lat":"1","lon":)") << bad << 0.0 << 0.0;
    QTest::newRow("html") << QByteArray("<html><body>Service unavailable</body></html>") << bad << 0.0 << 0.0;
    const int failed = int(GeocoderAnswer::Kind::Failed);
    const int refused = int(GeocoderAnswer::Kind::KeyRefused);
    const int busy = int(GeocoderAnswer::Kind::Busy);
    QTest::newRow("error string") << QByteArray(R"({"error":"Unable to geocode"})") << failed << 0.0 << 0.0;
    QTest::newRow("error object naming the key")
        << QByteArray(R"({"error":{"code":401,"message":"Invalid API key"}})") << refused << 0.0 << 0.0;
    QTest::newRow("geojson center (mapbox, maptiler)")
        << QByteArray(R"({"type":"FeatureCollection","features":[{"center":[-71.0773,42.7762]}]})") << found
        << 42.7762 << -71.0773;
    const QByteArray google = R"({"results":[{"geometry":{"location":{"lat":42.7762,"lng":-71.0773}}}],
        "status":"OK"})";
    QTest::newRow("google") << google << found << 42.7762 << -71.0773;
    QTest::newRow("google no place") << QByteArray(R"({"results":[],"status":"ZERO_RESULTS"})") << none << 0.0
                                     << 0.0;
    QTest::newRow("google key denied")
        << QByteArray(
               R"({"results":[],"status":"REQUEST_DENIED","error_message":"The provided API key is invalid."})")
        << refused << 0.0 << 0.0;
    QTest::newRow("google over limit")
        << QByteArray(R"({"results":[],"status":"OVER_QUERY_LIMIT"})") << busy << 0.0 << 0.0;
    QTest::newRow("mapquest") << QByteArray(R"({"info":{"statuscode":0,"messages":[]},
        "results":[{"locations":[{"latLng":{"lat":42.7762,"lng":-71.0773}}]}]})")
                              << found << 42.7762 << -71.0773;
    QTest::newRow("mapquest key refused")
        << QByteArray(R"({"info":{"statuscode":403,"messages":["The key is not valid"]},"results":[]})")
        << refused << 0.0 << 0.0;
    QTest::newRow("here")
        << QByteArray(R"({"items":[{"title":"Haverhill","position":{"lat":42.7762,"lng":-71.0773}}]})")
        << found << 42.7762 << -71.0773;
    QTest::newRow("tomtom")
        << QByteArray(R"({"summary":{},"results":[{"position":{"lat":42.7762,"lon":-71.0773}}]})") << found
        << 42.7762 << -71.0773;
    QTest::newRow("tomtom empty") << QByteArray(R"({"summary":{},"results":[]})") << none << 0.0 << 0.0;
    // Paths of the user's: lat_path and lon_path.
    QTest::newRow("paths") << QByteArray(R"({"data":{"hits":[{"pt":{"y":"42.7762","x":-71.0773}}]}})")
                           << found << 42.7762 << -71.0773;
    QTest::newRow("paths, nothing there") << QByteArray(R"({"data":{"hits":[]}})") << none << 0.0 << 0.0;
    QTest::newRow("paths, failure reported")
        << QByteArray(R"({"error":"daily quota exceeded"})") << busy << 0.0 << 0.0;
}

void TestProviderParts::geocoderAnswers()
{
    QFETCH(QByteArray, body);
    QFETCH(int, kind);
    const GeocoderPaths paths =
        QString::fromLatin1(QTest::currentDataTag()).startsWith(QLatin1String("paths"))
            ? GeocoderPaths{QStringLiteral("data.hits.0.pt.y"), QStringLiteral("data.hits.0.pt.x")}
            : GeocoderPaths{};
    const GeocoderAnswer answer = readGeocoderAnswer(body, paths);
    QCOMPARE(int(answer.kind), kind);
    if (answer.kind == GeocoderAnswer::Kind::Found) {
        QFETCH(double, lat);
        QFETCH(double, lon);
        QVERIFY(qAbs(answer.latitude - lat) < 1e-9);
        QVERIFY(qAbs(qAbs(answer.longitude) - qAbs(lon)) < 1e-9);
    }
}

void TestProviderParts::freshness_data()
{
    QTest::addColumn<QByteArray>("cacheControl");
    QTest::addColumn<QByteArray>("expires");
    QTest::addColumn<QByteArray>("age");
    QTest::addColumn<qint64>("seconds"); // -1: not to be stored
    const QByteArray date = "Tue, 08 Dec 2026 12:00:00 GMT";
    QTest::newRow("nothing said: default") << QByteArray() << QByteArray() << QByteArray() << qint64(3600);
    QTest::newRow("max-age") << QByteArray("public, max-age=600") << QByteArray() << QByteArray()
                             << qint64(600);
    QTest::newRow("max-age less age")
        << QByteArray("max-age=600") << QByteArray() << QByteArray("100") << qint64(500);
    QTest::newRow("max-age beats expires")
        << QByteArray("max-age=60") << QByteArray("Tue, 08 Dec 2026 13:00:00 GMT") << QByteArray()
        << qint64(60);
    QTest::newRow("expires") << QByteArray() << QByteArray("Tue, 08 Dec 2026 13:00:00 GMT") << QByteArray()
                             << qint64(3600);
    QTest::newRow("expires 0") << QByteArray() << QByteArray("0") << QByteArray() << qint64(0);
    QTest::newRow("no-cache") << QByteArray("max-age=600, no-cache") << QByteArray() << QByteArray()
                              << qint64(0);
    QTest::newRow("no-store") << QByteArray("no-store") << QByteArray() << QByteArray() << qint64(-1);
    QTest::newRow("No-Store, spaced")
        << QByteArray(" private , No-Store") << QByteArray() << QByteArray() << qint64(-1);
}

void TestProviderParts::freshness()
{
    QFETCH(QByteArray, cacheControl);
    QFETCH(QByteArray, expires);
    QFETCH(QByteArray, age);
    QFETCH(qint64, seconds);
    const auto fresh =
        HttpTimes::freshFor(cacheControl, expires, "Tue, 08 Dec 2026 12:00:00 GMT", age, 3600s);
    QCOMPARE(fresh ? qint64(fresh->count()) : -1, seconds);
}

void TestProviderParts::retryAfter_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<qint64>("ms"); // -1: none
    QTest::newRow("seconds") << QByteArray("2") << qint64(2000);
    QTest::newRow("date") << QByteArray("Tue, 08 Dec 2026 12:00:30 GMT") << qint64(30000);
    QTest::newRow("rfc 850 date") << QByteArray("Tuesday, 08-Dec-26 12:00:30 GMT") << qint64(30000);
    QTest::newRow("date passed") << QByteArray("Tue, 08 Dec 2026 11:00:00 GMT") << qint64(0);
    QTest::newRow("missing") << QByteArray() << qint64(-1);
    QTest::newRow("garbage") << QByteArray("soon") << qint64(-1);
    QTest::newRow("negative") << QByteArray("-5") << qint64(-1);
}

void TestProviderParts::retryAfter()
{
    QFETCH(QByteArray, header);
    QFETCH(qint64, ms);
    const QDateTime now(QDate(2026, 12, 8), QTime(12, 0), Qt::UTC);
    const auto wait = HttpTimes::retryAfter(header, now);
    QCOMPARE(wait ? qint64(wait->count()) : -1, ms);
}

void TestProviderParts::coverage_data()
{
    QTest::addColumn<double>("lat");
    QTest::addColumn<double>("lon");
    QTest::addColumn<int>("zoom");
    QTest::addColumn<int>("tileSize");
    QTest::addColumn<int>("tileZoom");
    QTest::addColumn<int>("tiles"); // at most
    // The centre of tile (z, x, y) lands in the middle of the picture.
    QTest::newRow("null island z1") << 0.0 << 0.0 << 1 << 256 << 1 << 4;
    QTest::newRow("tile corner, 256") << 0.0 << 0.0 << 10 << 256 << 10 << 16;
    QTest::newRow("street level, 256") << 54.9966 << -7.3086 << 17 << 256 << 17 << 16;
    QTest::newRow("street level, 512") << 54.9966 << -7.3086 << 17 << 512 << 16 << 9;
    QTest::newRow("world, 512") << 10.0 << 20.0 << 0 << 512 << 0 << 1;
}

void TestProviderParts::coverage()
{
    QFETCH(double, lat);
    QFETCH(double, lon);
    QFETCH(int, zoom);
    QFETCH(int, tileSize);
    QFETCH(int, tileZoom);
    QFETCH(int, tiles);
    const TileCoverage c = tileCoverage(lat, lon, zoom, tileSize, QSize(640, 640));
    QVERIFY(c.tiles.size() <= tiles);
    // The placements tile the picture without gaps or overlaps where the world is.
    QImage covered(640, 640, QImage::Format_Grayscale8);
    covered.fill(0);
    for (const TilePlacement& p : c.placements) {
        QCOMPARE(p.tile.z, tileZoom);
        for (int y = std::max(0, p.topLeft.y()); y < std::min(640, p.topLeft.y() + tileSize); ++y)
            for (int x = std::max(0, p.topLeft.x()); x < std::min(640, p.topLeft.x() + tileSize); ++x)
                covered.bits()[y * covered.bytesPerLine() + x] += 1;
    }
    if (zoom >= 2) {
        for (int y = 0; y < 640; y += 7)
            for (int x = 0; x < 640; x += 7)
                QCOMPARE(int(covered.constBits()[y * covered.bytesPerLine() + x]), 1);
    }
    // The place itself is in the middle: the tile under the centre holds it.
    const double n = double(1 << tileZoom);
    const double tx = (lon + 180) / 360 * n;
    const double ty = (1 - std::asinh(std::tan(lat * M_PI / 180)) / M_PI) / 2 * n;
    for (const TilePlacement& p : c.placements) {
        const QRect r(p.topLeft, QSize(tileSize, tileSize));
        if (r.contains(320, 320)) {
            QCOMPARE(p.tile.x, int(tx));
            QCOMPARE(p.tile.y, int(ty));
            QVERIFY(qAbs(p.topLeft.x() + (tx - int(tx)) * tileSize - 320) <= 1);
            QVERIFY(qAbs(p.topLeft.y() + (ty - int(ty)) * tileSize - 320) <= 1);
        }
    }
}

void TestProviderParts::coverageWrapsAndStopsAtThePoles()
{
    // Just east of the date line at zoom 3: columns 6 and 7 (west of it) and 0 and 1.
    const TileCoverage east = tileCoverage(0, -179.9, 3, 256, QSize(640, 640));
    std::set<int> columns;
    for (const TilePlacement& p : east.placements)
        columns.insert(p.tile.x);
    QCOMPARE(columns, (std::set<int>{6, 7, 0, 1}));

    // At zoom 0 the one world tile is repeated across, and nothing is asked for beyond the poles.
    const TileCoverage world = tileCoverage(0, 0, 0, 256, QSize(640, 640));
    QCOMPARE(world.tiles.size(), 1);
    QCOMPARE(world.placements.size(), 3);
    for (const TilePlacement& p : world.placements)
        QCOMPARE(p.topLeft.y(), 192);

    const TileCoverage north = tileCoverage(89.9, 0, 4, 256, QSize(640, 640));
    for (const TilePlacement& p : north.placements) {
        QVERIFY(p.tile.y >= 0);
        QVERIFY(p.topLeft.y() >= 320 - 1);
    }
}

void TestProviderParts::stitchedPictureShowsTilesBackgroundAndAttribution()
{
    const TileCoverage c = tileCoverage(80, 0, 2, 256, QSize(640, 640));
    QHash<TileId, QImage> tiles;
    for (const TileId& id : c.tiles) {
        QImage tile(256, 256, QImage::Format_RGB32);
        tile.fill(QColor(0, 40 * id.x, 200));
        tiles.insert(id, tile);
    }
    const QString attribution = QStringLiteral("© Example Tiles, data © contributors");
    const QImage plain = stitchTiles(c, tiles, QSize(640, 640), {});
    const QImage picture =
        QImage::fromData(encodePng(stitchTiles(c, tiles, QSize(640, 640), attribution)), "PNG");
    QCOMPARE(picture.size(), QSize(640, 640));
    // North of the world: background; the world below it: tiles.
    QCOMPARE(picture.pixelColor(320, 2), QColor(0xdd, 0xdd, 0xdd));
    QCOMPARE(picture.pixelColor(320, 600).blue(), 200);
    // The attribution changes the bottom-right corner and nothing near the top-left.
    int changedCorner = 0;
    for (int y = 620; y < 640; ++y)
        for (int x = 440; x < 640; ++x)
            changedCorner += picture.pixel(x, y) != plain.pixel(x, y);
    QVERIFY2(changedCorner > 200, qPrintable(QString::number(changedCorner)));
    for (int y = 0; y < 600; y += 5)
        for (int x = 0; x < 400; x += 5)
            QCOMPARE(picture.pixel(x, y), plain.pixel(x, y));
}

void TestProviderParts::heldPictureOutlivesTheNextOne()
{
    const TileCoverage c = tileCoverage(0, 0, 10, 256, QSize(640, 640));
    const auto filled = [&](QColor colour) {
        QHash<TileId, QImage> tiles;
        for (const TileId& id : c.tiles) {
            QImage tile(256, 256, QImage::Format_RGB32);
            tile.fill(colour);
            tiles.insert(id, tile);
        }
        return stitchTiles(c, tiles, QSize(640, 640), {});
    };
    const QImage red = filled(Qt::red);
    const QImage blue = filled(Qt::blue);
    QCOMPARE(red.pixelColor(320, 320), QColor(Qt::red));
    QCOMPARE(blue.pixelColor(320, 320), QColor(Qt::blue));
    QVERIFY(red.constBits() != blue.constBits());
    // Let go of, the next one may be drawn where it was; other sizes are fine too.
    QCOMPARE(filled(Qt::green).pixelColor(320, 320), QColor(Qt::green));
    QCOMPARE(stitchTiles(c, {}, QSize(100, 50), {}).size(), QSize(100, 50));
    QCOMPARE(red.pixelColor(0, 0), QColor(Qt::red));
}

void TestProviderParts::encodedPictureKeepsEveryPixel_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("level");
    QTest::newRow("640 x 640") << QSize(640, 640) << int(QImage::Format_RGB32) << 1;
    QTest::newRow("640 x 640, not compressed") << QSize(640, 640) << int(QImage::Format_RGB32) << 0;
    QTest::newRow("odd size") << QSize(3, 7) << int(QImage::Format_RGB32) << 1;
    QTest::newRow("one pixel") << QSize(1, 1) << int(QImage::Format_RGB32) << 1;
    QTest::newRow("opaque with alpha channel")
        << QSize(64, 32) << int(QImage::Format_ARGB32_Premultiplied) << 1;
}

void TestProviderParts::encodedPictureKeepsEveryPixel()
{
    QFETCH(QSize, size);
    QFETCH(int, format);
    QFETCH(int, level);
    QImage image(size, QImage::Format(format));
    QRandomGenerator random(7);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, 0xff000000u | (random.generate() & 0xffffffu));
    const QByteArray png = encodePng(image, level);
    QVERIFY(png.startsWith("\x89PNG"));
    const QImage back = QImage::fromData(png, "PNG");
    QCOMPARE(back.size(), size);
    QCOMPARE(back.convertToFormat(QImage::Format_RGB32), image.convertToFormat(QImage::Format_RGB32));
    QVERIFY(encodePng(QImage()).isEmpty());
}

namespace {

// A picture with something in every pixel, odd in both directions, with a few see-through ones.
QImage busyPicture(QImage::Format format)
{
    QImage image(37, 23, QImage::Format_ARGB32);
    QRandomGenerator random(11);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y,
                           qRgba(x * 7, y * 11,
                                 y % 2 ? int(random.bounded(256)) : int(random.bounded(4)) * 60,
                                 (x + y) % 9 ? 255 : 90));
    return format == QImage::Format_ARGB32 ? image : image.convertToFormat(format);
}

QByteArray qtPng(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "png");
    return bytes;
}

QByteArray pngChunk(const QByteArray& type, const QByteArray& body)
{
    QByteArray chunk(4, 0);
    qToBigEndian(quint32(body.size()), chunk.data());
    chunk += type + body + QByteArray(4, 0);
    qToBigEndian(quint32(libdeflate_crc32(0, chunk.constData() + 4, size_t(chunk.size()) - 8)),
                 chunk.data() + chunk.size() - 4);
    return chunk;
}

} // namespace

void TestProviderParts::pngsDecodeAsQtDecodesThem_data()
{
    QTest::addColumn<QByteArray>("png");
    QTest::addColumn<bool>("whole"); // decoded in one piece, not handed to Qt

    const QByteArray palette = qtPng(busyPicture(QImage::Format_Indexed8));
    QTest::newRow("palette") << palette << true;
    QImage seeThrough = busyPicture(QImage::Format_Indexed8);
    seeThrough.setColor(3, qRgba(10, 20, 30, 40));
    QTest::newRow("palette with transparency") << qtPng(seeThrough) << true;
    // Qt's writer filters each row of these as suits it: every filter occurs.
    QTest::newRow("RGB") << qtPng(busyPicture(QImage::Format_RGB32)) << true;
    QTest::newRow("RGBA") << qtPng(busyPicture(QImage::Format_ARGB32)) << true;
    // Left to Qt.
    QTest::newRow("with gamma, which Qt corrects")
        << palette.left(33) + pngChunk("gAMA", QByteArray("\0\0\xb1\x8f", 4)) + palette.mid(33) << false;
    QByteArray header = palette.mid(16, 13);
    header[12] = 1;
    QTest::newRow("interlaced") << palette.left(8) + pngChunk("IHDR", header) + palette.mid(33) << false;
    QTest::newRow("16 bits a sample") << qtPng(busyPicture(QImage::Format_RGBA64)) << false;
    QTest::newRow("1 bit a pixel") << qtPng(busyPicture(QImage::Format_Mono)) << false;
    QTest::newRow("grey") << qtPng(busyPicture(QImage::Format_Grayscale8)) << false;
    QByteArray damaged = palette;
    damaged[damaged.indexOf("IDAT") + 10] = char(damaged[damaged.indexOf("IDAT") + 10] ^ 0x55);
    QTest::newRow("image data damaged") << damaged << false;
    QImage fewColours = busyPicture(QImage::Format_Indexed8);
    fewColours.setColorCount(4);
    QTest::newRow("index past the palette") << qtPng(fewColours) << false;
    QTest::newRow("unknown critical chunk")
        << palette.left(33) + pngChunk("ABCD", "x") + palette.mid(33) << false;
}

void TestProviderParts::pngsDecodeAsQtDecodesThem()
{
    QFETCH(QByteArray, png);
    QFETCH(bool, whole);
    QCOMPARE(!decodeWholePng(png, QSize(256, 256)).isNull(), whole);
    const PictureCheck checked = checkPicture(png, {}, QSize(256, 256), Reasons::Who::MapProvider, true);
    const QImage qt = QImage::fromData(png);
    QCOMPARE(checked.problem.isEmpty(), !qt.isNull());
    if (!qt.isNull())
        QCOMPARE(asDrawn(checked.image), asDrawn(qt));
}

void TestProviderParts::parallelWorkDoesEachOnce_data()
{
    QTest::addColumn<int>("count");
    QTest::newRow("none") << 0;
    QTest::newRow("one") << 1;
    QTest::newRow("sixteen tiles") << 16;
    QTest::newRow("many") << 1000;
}

void TestProviderParts::parallelWorkDoesEachOnce()
{
    QFETCH(int, count);
    QList<int> done(count, 0);
    int* each = done.data();
    QAtomicInt calls;
    inParallel(count, [&](qsizetype i) {
        ++each[i];
        calls.fetchAndAddRelaxed(1);
    });
    QCOMPARE(calls.loadRelaxed(), count);
    QCOMPARE(done, QList<int>(count, 1));
}

void TestProviderParts::templates_data()
{
    QTest::addColumn<QString>("templ");
    QTest::addColumn<QString>("expected");
    QTest::newRow("query")
        << "https://maps.example/staticmap?center={search}&zoom={zoom}&size={width}x{height}&key={key}"
        << "https://maps.example/staticmap?center=Haverhill%20MA%2C%20%26%20%22x%22&zoom=12&size="
           "640x640&key=k%2By%26z";
    QTest::newRow("path") << "http://127.0.0.1:8080/{z}/{x}/{y}.png?k={key}"
                          << "http://127.0.0.1:8080/12/34/56.png?k=k%2By%26z";
}

void TestProviderParts::templates()
{
    QFETCH(QString, templ);
    QFETCH(QString, expected);
    const QUrl url = UrlTemplate::fill(templ, {{"search", "Haverhill MA, & \"x\""},
                                               {"zoom", "12"},
                                               {"width", "640"},
                                               {"height", "640"},
                                               {"z", "12"},
                                               {"x", "34"},
                                               {"y", "56"},
                                               {"key", "k+y&z"}});
    QCOMPARE(url.toString(QUrl::FullyEncoded), expected);
}

void TestProviderParts::configProblems_data()
{
    QTest::addColumn<int>("source");
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("problem"); // a fragment; empty: usable
    const int s = int(GatewayConfig::Source::Static);
    const int t = int(GatewayConfig::Source::Tiles);
    QTest::newRow("static fine") << s << "https://m.example/s?c={search}&z={zoom}"
                                 << "";
    QTest::newRow("static unset") << s << ""
                                  << "[static] url in gateway.conf is not set";
    QTest::newRow("static no search") << s << "https://m.example/s?z={zoom}"
                                      << "lacks the placeholder {search}";
    QTest::newRow("static unknown placeholder") << s << "https://m.example/s?c={search}&s={scale}"
                                                << "unknown placeholder {scale}";
    QTest::newRow("static file") << s << "file:///etc/{search}"
                                 << "not an http:// or https:// address";
    QTest::newRow("tiles fine") << t << "https://t.example/{z}/{x}/{y}.png"
                                << "";
    QTest::newRow("tiles subdomain") << t << "https://{s}.t.example/{z}/{x}/{y}.png"
                                     << "[tiles] tiles";
    QTest::newRow("tiles no y") << t << "https://t.example/{z}/{x}.png"
                                << "lacks the placeholder {y}";
    QTest::newRow("map files") << t << "mbtiles:/maps/a.mbtiles, MBTiles:~/b.mbtiles"
                               << "";
    QTest::newRow("map file, part of a path") << t << "mbtiles:maps/a.mbtiles"
                                              << "[tiles] tiles in gateway.conf needs the whole path";
    QTest::newRow("map file and a web address")
        << t << "mbtiles:/a.mbtiles, https://t.example/{z}/{x}/{y}.png"
        << "must name every file as mbtiles:/path";
}

void TestProviderParts::configProblems()
{
    QFETCH(int, source);
    QFETCH(QString, url);
    QFETCH(QString, problem);
    GatewayConfig config;
    config.source = GatewayConfig::Source(source);
    config.staticUrl = url;
    config.geocoderUrl = QStringLiteral("https://g.example/search?q={search}&format=json");
    config.tileUrl = url;
    const QTemporaryDir cache;
    config.cacheDirectory = cache.path();
    const QString found = providerConfigProblem(config);
    if (problem.isEmpty()) {
        QCOMPARE(found, QString());
        return;
    }
    QVERIFY2(found.contains(problem), qPrintable(found));
    // Such a source still answers, with what to fix.
    const auto source_ = createProviderSource(config);
    QVERIFY(source_);
    MapAnswer answer;
    source_->render(MapRequest{"x", 12, {640, 640}}, QDeadlineTimer(1000),
                    [&](const MapAnswer& a) { answer = a; });
    QCOMPARE(answer.status, 503);
    QCOMPARE(QString::fromLatin1(answer.reason), found);
}

void TestProviderParts::phrases_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("phrase");
    QTest::newRow("plain") << QString("No place found for %1").arg(Reasons::quoted("Xyzzy"))
                           << QByteArray("No place found for \"Xyzzy\"");
    QTest::newRow("line breaks") << Reasons::quoted("a\r\nHTTP/1.1 200 OK\r\n\tb")
                                 << QByteArray("\"a HTTP/1.1 200 OK b\"");
    QTest::newRow("latin-1 and beyond") << Reasons::quoted(QStringLiteral("Kraków, Łódź"))
                                        << QByteArray("\"Krak\xf3w, ?\xf3"
                                                      "d?\"");
    QTest::newRow("long") << Reasons::quoted(QString(100, u'x'))
                          << QByteArray("\"" + QByteArray(57, 'x') + "...\"");
    QTest::newRow("key masked") << QStringLiteral("failed at https://h/?key=s3cr%C3%A9t and s3crét")
                                << QByteArray("failed at https://h/?key=s3cr%C3%A9t and ***");
}

void TestProviderParts::phrases()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, phrase);
    QCOMPARE(Reasons::toPhrase(text, QStringLiteral("s3crét")), phrase);
}

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    TestProviderParts test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_providerparts.moc"
