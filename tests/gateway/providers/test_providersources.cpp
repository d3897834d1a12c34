// The static and tiles sources against stand-in providers on loopback: pictures, every provider
// fault with its reason within the deadline, Retry-After, the cache, the rate limit, the key.
#include "ProviderSources.h"
#include "ProviderStandIn.h"
#include "TileMath.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QNetworkDiskCache>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString Key = QStringLiteral("SECRET-KEY-4711");
using Endpoint = ProviderStandIn::Endpoint;

struct Rendered
{
    MapAnswer answer;
    qint64 elapsedMs = 0;
    int answers = 0;
};

Rendered render(MapSource& source, const QString& search, int zoom = 12, int deadlineMs = 5000)
{
    Rendered r;
    QElapsedTimer clock;
    clock.start();
    source.render(MapRequest{search, zoom, {640, 640}}, QDeadlineTimer(deadlineMs, Qt::PreciseTimer),
                  [&](const MapAnswer& a) {
                      r.answer = a;
                      r.elapsedMs = clock.elapsed();
                      ++r.answers;
                  });
    if (!QTest::qWaitFor([&] { return r.answers > 0; }, deadlineMs + 2000))
        return r;     // answers stays 0: the caller's check fails
    QTest::qWait(20); // a second answer would show up here
    return r;
}

QByteArray everythingIn(const QString& folder)
{
    QByteArray all;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (f.open(QIODevice::ReadOnly)) {
            all += f.readAll();
        }
    }
    return all;
}

} // namespace

class TestProviderSources : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void pictures_data();
    void pictures();
    void faults_data();
    void faults();
    void retryAfterWithinTheDeadlineIsWaitedFor();
    void repeatedSearchCallsNoProvider_data();
    void repeatedSearchCallsNoProvider();
    void finishedPictureOutlivesARestart_data();
    void finishedPictureOutlivesARestart();
    void damagedCacheEntryIsFetchedAgain();
    void cacheStaysWithinItsBound();
    void rateLimitAndOneRequestPerHost();
    void rateLimitBeyondTheDeadlineSaysSo();

private:
    GatewayConfig config(const QString& source, const QString& geocoder = QStringLiteral("nominatim"),
                         int tileSize = 256) const;
    std::unique_ptr<MapSource> make(const GatewayConfig& c) { return createProviderSource(c); }

    std::unique_ptr<ProviderStandIn> m_standIn;
    std::unique_ptr<QTemporaryDir> m_cache;
};

void TestProviderSources::init()
{
    m_standIn = std::make_unique<ProviderStandIn>();
    QVERIFY(m_standIn->listen());
    m_standIn->setKey(Key);
    m_standIn->setStallMs(5000);
    m_cache = std::make_unique<QTemporaryDir>();
}

void TestProviderSources::cleanup()
{
    m_standIn.reset();
    m_cache.reset();
}

GatewayConfig TestProviderSources::config(const QString& source, const QString& geocoder, int tileSize) const
{
    GatewayConfig c;
    c.key = Key;
    c.cacheDirectory = m_cache->path();
    c.geocoderRequestsPerSecond = 0; // the rate limit and the bound per host have their own test
    c.requestsPerHost = 4;
    c.marker = false; // the pin has its own tests
    if (source == QLatin1String("static")) {
        c.source = GatewayConfig::Source::Static;
        c.staticUrl = m_standIn->staticTemplate();
    } else {
        c.source = GatewayConfig::Source::Tiles;
        c.geocoderUrl = geocoder == QLatin1String("geojson") ? m_standIn->geojsonTemplate()
                                                             : m_standIn->nominatimTemplate();
        c.tileUrl = m_standIn->tileTemplate(tileSize);
        c.tileSize = tileSize;
        c.attribution = QStringLiteral("© Stand-in Tiles");
    }
    return c;
}

void TestProviderSources::pictures_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("geocoder");
    QTest::addColumn<int>("tileSize");
    QTest::addColumn<bool>("jpeg");
    QTest::newRow("static png") << "static"
                                << "" << 0 << false;
    QTest::newRow("static jpeg") << "static"
                                 << "" << 0 << true;
    QTest::newRow("tiles, nominatim, 256") << "tiles"
                                           << "nominatim" << 256 << false;
    QTest::newRow("tiles, geojson, 256") << "tiles"
                                         << "geojson" << 256 << false;
    QTest::newRow("tiles, nominatim, 512") << "tiles"
                                           << "nominatim" << 512 << false;
}

void TestProviderSources::pictures()
{
    QFETCH(QString, source);
    QFETCH(QString, geocoder);
    QFETCH(int, tileSize);
    QFETCH(bool, jpeg);
    GatewayConfig c = config(source, geocoder, tileSize);
    if (jpeg) {
        c.staticUrl += QStringLiteral("&format=jpg");
    }
    const auto s = make(c);
    const QString search = QStringLiteral("Haverhill MA");
    const Rendered r = render(*s, search, 12);
    QCOMPARE(r.answers, 1);
    QCOMPARE(r.answer.status, 200);
    const QImage picture = QImage::fromData(r.answer.body);
    QCOMPARE(picture.size(), QSize(640, 640));
    QCOMPARE(r.answer.contentType, QByteArray(jpeg ? "image/jpeg" : "image/png"));

    const QList<ProviderStandIn::Request> requests = m_standIn->requests();
    QVERIFY(!requests.isEmpty());
    for (const auto& request : requests) {
        QVERIFY2(request.userAgent.startsWith("orrowdale-gateway/") && request.userAgent.contains(" (+http"),
                 request.userAgent.constData());
    }
    if (source == QLatin1String("static")) {
        QCOMPARE(requests.size(), 1);
        QVERIFY(
            requests[0].target.contains("center=Haverhill%20MA&zoom=12&size=640x640&key=SECRET-KEY-4711"));
        return;
    }
    // One geocoding request, then the tiles around the place, each once.
    QCOMPARE(m_standIn->requestCount(Endpoint::Geocoder), 1);
    double lat = 0, lon = 0;
    ProviderStandIn::placeOf(search, &lat, &lon);
    const TileCoverage coverage = tileCoverage(lat, lon, 12, tileSize, QSize(640, 640));
    QCOMPARE(m_standIn->requestCount(Endpoint::Tiles), coverage.tiles.size());
    // The tile under the place fills the middle of the picture...
    for (const TilePlacement& p : coverage.placements) {
        if (QRect(p.topLeft, QSize(tileSize, tileSize)).contains(320, 320)) {
            const QRgb colour = ProviderStandIn::tileColour(p.tile.z, p.tile.x, p.tile.y).rgb();
            int same = 0;
            for (int y = 300; y < 340; ++y)
                for (int x = 300; x < 340; ++x)
                    same += picture.pixel(x, y) == colour;
            QVERIFY2(same > 400, qPrintable(QString::number(same)));
        }
    }
    // ... and the attribution lightens the bottom-right corner.
    const QColor corner = picture.pixelColor(636, 636);
    QVERIFY2(corner.lightness() > 200 && corner.saturation() < 60, qPrintable(corner.name()));
}

void TestProviderSources::faults_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("endpoint");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("search");
    QTest::addColumn<int>("deadlineMs");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("reason");
    const int geo = int(Endpoint::Geocoder);
    const int tiles = int(Endpoint::Tiles);
    const int pic = int(Endpoint::StaticMap);
    const QString h = QStringLiteral("Haverhill MA");
    QTest::newRow("static, bad key 403") << "static" << pic << "badkey-403" << h << 3000 << 502
                                         << "The map provider refused the key (HTTP 403)";
    QTest::newRow("tiles, bad key 401")
        << "tiles" << geo << "badkey-401" << h << 3000 << 502 << "The geocoder refused the key (HTTP 401)";
    QTest::newRow("static, 429 beyond deadline")
        << "static" << pic << "busy-30" << h << 3000 << 503 << "The map provider is busy; try again later";
    QTest::newRow("tiles, 503 beyond deadline") << "tiles" << tiles << "unavailable-30" << h << 3000 << 503
                                                << "The map provider is busy; try again later";
    QTest::newRow("geocoder 429 without Retry-After")
        << "tiles" << geo << "status-429" << h << 3000 << 503 << "The geocoder is busy; try again later";
    QTest::newRow("static, 500") << "static" << pic << "status-500" << h << 3000 << 502
                                 << "The map provider failed (HTTP 500); try again later";
    QTest::newRow("tiles, 404") << "tiles" << tiles << "status-404" << h << 3000 << 502
                                << "The map provider answered HTTP 404; check its address in gateway.conf";
    QTest::newRow("static, stall") << "static" << pic << "stall" << h << 1200 << 504
                                   << "The map provider did not answer in time";
    QTest::newRow("tiles, geocoder stall")
        << "tiles" << geo << "stall" << h << 1200 << 504 << "The geocoder did not answer in time";
    QTest::newRow("tiles, tile stall")
        << "tiles" << tiles << "stall" << h << 1200 << 504 << "The map provider did not answer in time";
    QTest::newRow("static, oversized")
        << "static" << pic << "huge" << h << 3000 << 502 << "The map provider sent more than 8 MiB";
    QTest::newRow("tiles, endless tile")
        << "tiles" << tiles << "endless" << h << 3000 << 502 << "The map provider sent more than 8 MiB";
    QTest::newRow("geocoder oversized")
        << "tiles" << geo << "huge" << h << 3000 << 502 << "The geocoder sent more than 1 MiB";
    QTest::newRow("static, html") << "static" << pic << "html" << h << 3000 << 502
                                  << "The map provider sent text/html instead of a picture";
    QTest::newRow("tiles, html tile") << "tiles" << tiles << "html" << h << 3000 << 502
                                      << "The map provider sent text/html instead of a picture";
    QTest::newRow("static, picture cut short") << "static" << pic << "malformed" << h << 3000 << 502
                                               << "The map provider sent a picture that is cut short";
    QTest::newRow("geocoder, malformed json") << "tiles" << geo << "malformed" << h << 3000 << 502
                                              << "The geocoder sent an answer that could not be read";
    QTest::newRow("geocoder, html") << "tiles" << geo << "html" << h << 3000 << 502
                                    << "The geocoder sent an answer that could not be read";
    QTest::newRow("no place found") << "tiles" << geo << ""
                                    << "Xyzzy" << 3000 << 404 << "No place found for \"Xyzzy\"";
    QTest::newRow("no place found, geojson")
        << "tiles-geojson" << geo << "notfound" << h << 3000 << 404 << "No place found for \"Haverhill MA\"";
    QTest::newRow("static, redirect to a file")
        << "static" << pic << "redirect-file" << h << 3000 << 502
        << "The map provider redirected to an address that is not safe to follow";
}

void TestProviderSources::faults()
{
    QFETCH(QString, source);
    QFETCH(int, endpoint);
    QFETCH(QString, fault);
    QFETCH(QString, search);
    QFETCH(int, deadlineMs);
    QFETCH(int, status);
    QFETCH(QString, reason);
    if (fault.startsWith(QLatin1String("badkey-"))) {
        m_standIn->setKey(QStringLiteral("another-key"));
        m_standIn->setBadKeyStatus(fault.mid(7).toInt());
    } else {
        m_standIn->setFault(Endpoint(endpoint), fault);
    }
    const bool geojson = source.endsWith(QLatin1String("-geojson"));
    const auto s = make(config(geojson ? QStringLiteral("tiles") : source,
                               geojson ? QStringLiteral("geojson") : QStringLiteral("nominatim")));
    const Rendered r = render(*s, search, 12, deadlineMs);
    QCOMPARE(r.answers, 1);
    QCOMPARE(r.answer.status, status);
    QCOMPARE(QString::fromLatin1(r.answer.reason), reason);
    QVERIFY(r.answer.body.isEmpty());
    // Within the bound: the answer is due a little before the deadline; a busy machine may run
    // the timer that brings it a few milliseconds late.
    QVERIFY2(r.elapsedMs < deadlineMs + 50, qPrintable(QString::number(r.elapsedMs)));
    if (fault == QLatin1String("stall")) {
        QVERIFY2(r.elapsedMs > deadlineMs / 2, qPrintable(QString::number(r.elapsedMs)));
    }
    // Nothing the provider refused, and nothing it sent back, is kept.
    QVERIFY(!r.answer.reason.contains(Key.toLatin1()));
    QVERIFY(!everythingIn(m_cache->path()).contains(Key.toLatin1()));
}

void TestProviderSources::retryAfterWithinTheDeadlineIsWaitedFor()
{
    m_standIn->setFault(Endpoint::Geocoder, QStringLiteral("busy-1"), 1);
    const auto s = make(config(QStringLiteral("tiles")));
    const Rendered r = render(*s, QStringLiteral("Londonderry UK"), 12, 4000);
    QCOMPARE(r.answer.status, 200);
    const QList<ProviderStandIn::Request> requests = m_standIn->requests();
    QCOMPARE(m_standIn->requestCount(Endpoint::Geocoder), 2);
    QVERIFY(requests[1].endpoint == Endpoint::Geocoder);
    const qint64 gap = requests[1].atMs - requests[0].atMs;
    QVERIFY2(gap >= 1000 && gap < 1500, qPrintable(QString::number(gap)));
}

void TestProviderSources::repeatedSearchCallsNoProvider_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QByteArray>("cacheControl");
    QTest::addColumn<bool>("cached");
    QTest::newRow("static") << "static" << QByteArray("max-age=3600") << true;
    QTest::newRow("tiles") << "tiles" << QByteArray("public, max-age=3600") << true;
    QTest::newRow("tiles, provider says nothing") << "tiles" << QByteArray() << true;
    QTest::newRow("tiles, no-store") << "tiles" << QByteArray("no-store") << false;
    QTest::newRow("static, expired at once") << "static" << QByteArray("max-age=0") << false;
}

void TestProviderSources::repeatedSearchCallsNoProvider()
{
    QFETCH(QString, source);
    QFETCH(QByteArray, cacheControl);
    QFETCH(bool, cached);
    m_standIn->setCacheControl(cacheControl);
    const QString search = QStringLiteral("Haverhill MA");
    auto s = make(config(source));
    const QByteArray first = render(*s, search).answer.body;
    QVERIFY(!first.isEmpty());
    const int asked = int(m_standIn->requests().size());
    QVERIFY(asked > 0);
    // Again from the same source, then from a new one on the same cache, as after a restart.
    for (int round = 0; round < 2; ++round) {
        if (round == 1)
            s = make(config(source));
        const Rendered r = render(*s, search);
        QCOMPARE(r.answer.status, 200);
        // The same pixels; the copy kept may be packed tighter than the first answer.
        QCOMPARE(QImage::fromData(r.answer.body), QImage::fromData(first));
    }
    QCOMPARE(m_standIn->requests().size(), cached ? asked : 3 * asked);
    QVERIFY(!everythingIn(m_cache->path()).contains(Key.toLatin1()));
}

void TestProviderSources::finishedPictureOutlivesARestart_data()
{
    QTest::addColumn<QByteArray>("cacheControl");
    QTest::addColumn<int>("waitMs");
    QTest::addColumn<bool>("dropAnswers"); // leave only the finished picture on disk
    QTest::addColumn<QString>("attribution");
    QTest::addColumn<int>("zoom");
    QTest::addColumn<bool>("asksProvider");
    const QByteArray hour("public, max-age=3600");
    const QString same = QStringLiteral("© Stand-in Tiles");
    const QString other = QStringLiteral("© Other Tiles");
    QTest::newRow("same picture, only it left") << hour << 0 << true << same << 12 << false;
    QTest::newRow("other attribution, tiles kept") << hour << 0 << false << other << 12 << false;
    QTest::newRow("other attribution, only the picture left") << hour << 0 << true << other << 12 << true;
    QTest::newRow("other zoom, only the picture left") << hour << 0 << true << same << 13 << true;
    QTest::newRow("answers gone stale") << QByteArray("max-age=1") << 1200 << false << same << 12 << true;
}

void TestProviderSources::finishedPictureOutlivesARestart()
{
    QFETCH(QByteArray, cacheControl);
    QFETCH(int, waitMs);
    QFETCH(bool, dropAnswers);
    QFETCH(QString, attribution);
    QFETCH(int, zoom);
    QFETCH(bool, asksProvider);
    m_standIn->setCacheControl(cacheControl);
    const QString search = QStringLiteral("Haverhill MA");
    QByteArray first;
    {
        const auto s = make(config(QStringLiteral("tiles")));
        first = render(*s, search).answer.body;
    }
    QVERIFY(!first.isEmpty());
    if (dropAnswers) {
        QNetworkDiskCache disk;
        disk.setCacheDirectory(m_cache->path() + QStringLiteral("/orrowdale-provider-cache"));
        for (const ProviderStandIn::Request& r : m_standIn->requests()) {
            const QString target = QString::fromLatin1(r.target).replace(Key, QStringLiteral("KEY"));
            QVERIFY2(disk.remove(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_standIn->port()) + target)),
                     r.target.constData());
        }
    }
    m_standIn->clearRequests();
    QTest::qWait(waitMs);

    // A restart, perhaps with other settings.
    GatewayConfig c = config(QStringLiteral("tiles"));
    c.attribution = attribution;
    const auto again = make(c);
    const Rendered r = render(*again, search, zoom);
    QCOMPARE(r.answer.status, 200);
    QCOMPARE(!m_standIn->requests().isEmpty(), asksProvider);
    const bool samePicture = attribution == config(QStringLiteral("tiles")).attribution && zoom == 12;
    QCOMPARE(QImage::fromData(r.answer.body) == QImage::fromData(first), samePicture);
    if (zoom == 12) {
        // The same tiles, drawn in the same places: the attribution aside, the same pixels.
        const QImage before = QImage::fromData(first);
        const QImage after = QImage::fromData(r.answer.body);
        QCOMPARE(after.size(), QSize(640, 640));
        QCOMPARE(after.copy(0, 0, 640, 600), before.copy(0, 0, 640, 600));
    }
    QVERIFY(!everythingIn(m_cache->path()).contains(Key.toLatin1()));
}

void TestProviderSources::damagedCacheEntryIsFetchedAgain()
{
    const auto s = make(config(QStringLiteral("static")));
    QByteArray first = render(*s, QStringLiteral("Haverhill MA")).answer.body;
    QVERIFY(!first.isEmpty());
    // A crash or a full disk leaves the entry's file short.
    int damaged = 0;
    QDirIterator it(m_cache->path(), {QStringLiteral("*.d")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.resize(f.size() - 100));
        ++damaged;
    }
    QCOMPARE(damaged, 1);
    const auto again = make(config(QStringLiteral("static")));
    const Rendered r = render(*again, QStringLiteral("Haverhill MA"));
    QCOMPARE(r.answer.status, 200);
    QCOMPARE(r.answer.body, first);
    QCOMPARE(m_standIn->requests().size(), 2);
}

void TestProviderSources::cacheStaysWithinItsBound()
{
    GatewayConfig c = config(QStringLiteral("static"));
    c.cacheBytes = 100 * 1024;
    const auto s = make(c);
    qint64 largest = 0;
    qint64 total = 0;
    int places = 0;
    while (total < 3 * c.cacheBytes) {
        const Rendered r = render(*s, QStringLiteral("Place %1").arg(places++));
        QCOMPARE(r.answer.status, 200);
        largest = std::max<qint64>(largest, r.answer.body.size());
        total += r.answer.body.size();
    }
    QVERIFY(largest * 4 < c.cacheBytes);
    QVERIFY2(everythingIn(m_cache->path()).size() <= c.cacheBytes + largest + 4096,
             qPrintable(QString::number(everythingIn(m_cache->path()).size())));
    // The oldest went first; the newest is still there.
    m_standIn->clearRequests();
    render(*s, QStringLiteral("Place %1").arg(places - 1));
    QCOMPARE(m_standIn->requests().size(), 0);
    render(*s, QStringLiteral("Place 0"));
    QCOMPARE(m_standIn->requests().size(), 1);
}

void TestProviderSources::rateLimitAndOneRequestPerHost()
{
    GatewayConfig c = config(QStringLiteral("tiles"));
    c.geocoderRequestsPerSecond = 4;
    c.requestsPerHost = 1;
    m_standIn->setFault(Endpoint::Tiles, QStringLiteral("slow-20"));
    const auto s = make(c);
    QList<Rendered> results(4);
    int answered = 0;
    for (int i = 0; i < 4; ++i) {
        s->render(MapRequest{QStringLiteral("Town %1").arg(i), 14, {640, 640}}, QDeadlineTimer(10000),
                  [&, i](const MapAnswer& a) {
                      results[i].answer = a;
                      ++answered;
                  });
    }
    QTRY_COMPARE_WITH_TIMEOUT(answered, 4, 12000);
    for (const Rendered& r : results)
        QCOMPARE(r.answer.status, 200);
    QList<qint64> geocoding;
    for (const auto& request : m_standIn->requests()) {
        if (request.endpoint == Endpoint::Geocoder)
            geocoding << request.atMs;
    }
    QCOMPARE(geocoding.size(), 4);
    for (int i = 1; i < geocoding.size(); ++i) {
        const qint64 gap = geocoding[i] - geocoding[i - 1];
        QVERIFY2(gap >= 250, qPrintable(QStringLiteral("gap %1 ms").arg(gap)));
    }
    QCOMPARE(m_standIn->mostAtOnce(), 1);
}

void TestProviderSources::rateLimitBeyondTheDeadlineSaysSo()
{
    GatewayConfig c = config(QStringLiteral("tiles"));
    c.geocoderRequestsPerSecond = 0.1;
    const auto s = make(c);
    QCOMPARE(render(*s, QStringLiteral("Town 1")).answer.status, 200);
    const Rendered r = render(*s, QStringLiteral("Town 2"), 12, 1000);
    QCOMPARE(r.answer.status, 504);
    QCOMPARE(
        r.answer.reason,
        QByteArray("The geocoder is asked too often to answer in time; see the rate limits in gateway.conf"));
    QCOMPARE(m_standIn->requestCount(Endpoint::Geocoder), 1);
}

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    TestProviderSources test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_providersources.moc"
