#include "ConfigFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

// The configuration file as users write it: values taken whole, mistakes named by line, and a
// new file made private.
class TestConfigFile : public QObject
{
    Q_OBJECT

private slots:
    void values()
    {
        const ConfigFile::Reading r =
            ConfigFile::parse("\xEF\xBB\xBF# a comment\n"
                              "[Gateway]\r\n"
                              "  Source = Tiles  \n"
                              "key = a,b=c;#d\n"
                              "; another comment\n"
                              "[tiles]\n"
                              "geocoder = https://geo.example/search?q={search}&fmt=json,v2&key={key}\n"
                              "tiles = http://127.0.0.1:8080/{z}/{x}/{y}.png\n"
                              "tile_size = 512\n"
                              "attribution = (c) Maps, Data & Co\n"
                              "geocoder_requests_per_second = 0.5\n"
                              "tile_requests_per_second = 4\n"
                              "[static]\n"
                              "url = https://static.example/map?center={search}&size={width}x{height}\n"
                              "requests_per_second = 2\n"
                              "[limits]\n"
                              "requests_per_host = 2\n"
                              "cache_mb = 64\n"
                              "cache_dir = /var/tmp/maps/\n");
        QCOMPARE(r.errors, QStringList());
        QCOMPARE(r.warnings, QStringList());
        const GatewayConfig& c = r.config;
        QCOMPARE(c.source, GatewayConfig::Source::Tiles);
        QCOMPARE(c.key, QStringLiteral("a,b=c;#d"));
        QCOMPARE(c.geocoderUrl,
                 QStringLiteral("https://geo.example/search?q={search}&fmt=json,v2&key={key}"));
        QCOMPARE(c.tileUrl, QStringLiteral("http://127.0.0.1:8080/{z}/{x}/{y}.png"));
        QCOMPARE(c.tileSize, 512);
        QCOMPARE(c.attribution, QStringLiteral("(c) Maps, Data & Co"));
        QCOMPARE(c.geocoderRequestsPerSecond, 0.5);
        QCOMPARE(c.tileRequestsPerSecond, 4.0);
        QCOMPARE(c.staticUrl,
                 QStringLiteral("https://static.example/map?center={search}&size={width}x{height}"));
        QCOMPARE(c.staticRequestsPerSecond, 2.0);
        QCOMPARE(c.requestsPerHost, 2);
        QCOMPARE(c.cacheBytes, 64LL * 1024 * 1024);
        QCOMPARE(c.cacheDirectory, QStringLiteral("/var/tmp/maps"));
    }

    // A named provider and the settings that go with it.
    void providerValues()
    {
        const ConfigFile::Reading r =
            ConfigFile::parse("[gateway]\nsource = MapTiler\nkey = k\nstyle = basic-v2\n"
                              "server = https://eu.example.com:8443/\nmarker = off\n"
                              "picture_size = 1280\ncountry = us\n"
                              "[geocoder]\nlat_path = a.0.lat\nlon_path = a.0.lon\n"
                              "provider = Stadia\nkey = g\n");
        QCOMPARE(r.errors, QStringList());
        const GatewayConfig& c = r.config;
        QCOMPARE(c.source, GatewayConfig::Source::Preset);
        QCOMPARE(c.preset, QStringLiteral("maptiler"));
        QCOMPARE(c.style, QStringLiteral("basic-v2"));
        QCOMPARE(c.server, QStringLiteral("https://eu.example.com:8443"));
        QCOMPARE(c.marker, false);
        QCOMPARE(c.pictureSize, 1280);
        QCOMPARE(c.country, QStringLiteral("US"));
        QCOMPARE(c.latPath, QStringLiteral("a.0.lat"));
        QCOMPARE(c.geocoderPreset, QStringLiteral("stadia"));
        QCOMPARE(c.geocoderKey, QStringLiteral("g"));
        // What the shipped template leaves as it is.
        const GatewayConfig d = ConfigFile::parse(ConfigFile::templateText()).config;
        QVERIFY(d.marker && d.pictureSize == 640 && d.country.isEmpty() && d.server.isEmpty());
    }

    void defaults()
    {
        const ConfigFile::Reading r = ConfigFile::parse({});
        QVERIFY(r.errors.isEmpty());
        QCOMPARE(r.config.source, GatewayConfig::Source::Demo);
        QCOMPARE(r.config.geocoderRequestsPerSecond, 1.0);
        QCOMPARE(r.config.requestsPerHost, 1);
        QCOMPARE(r.config.cacheBytes, 256LL * 1024 * 1024);
        QCOMPARE(r.config.cacheDirectory, ConfigFile::defaultCacheDirectory());
        QVERIFY(r.config.cacheDirectory.endsWith(QLatin1String("/orrowdale/gateway")));
        QVERIFY(ConfigFile::defaultPath().endsWith(QLatin1String("/orrowdale/gateway.conf")));
    }

    void mistakes_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("error");
        QTest::newRow("unknown source")
            << QByteArray("[gateway]\nsource = goggle\n")
            << "line 2: source must be demo, static or tiles, or a provider's name such as maptiler";
        QTest::newRow("no =") << QByteArray("[gateway]\nsource demo\n") << "line 2: expected key = value";
        QTest::newRow("open heading")
            << QByteArray("[gateway\n") << "line 1: a section heading needs a closing ]";
        QTest::newRow("tile size") << QByteArray("[tiles]\ntile_size=300\n")
                                   << "line 2: tile_size must be 256 or 512";
        QTest::newRow("rate") << QByteArray("[tiles]\ngeocoder_requests_per_second = -1\n")
                              << "line 2: needs a number of requests per second from 0 (no limit) to 1000";
        QTest::newRow("rate not a number")
            << QByteArray("[static]\nrequests_per_second = fast\n")
            << "line 2: needs a number of requests per second from 0 (no limit) to 1000";
        QTest::newRow("file URL") << QByteArray("[static]\nurl = file:///etc/passwd?{search}\n")
                                  << "line 2: needs an http:// or https:// address";
        QTest::newRow("no placeholder") << QByteArray("[tiles]\ntiles = https://t.example/{z}/{x}.png\n")
                                        << "line 2: needs the placeholder {y}";
        QTest::newRow("cache size")
            << QByteArray("[limits]\ncache_mb = 0\n")
            << "line 2: cache_mb must be a whole number of megabytes from 1 to 1000000";
        QTest::newRow("relative cache")
            << QByteArray("[limits]\ncache_dir = cache\n") << "line 2: cache_dir must be a full path";
        QTest::newRow("static without url")
            << QByteArray("[gateway]\nsource=static\n") << "source static needs url in [static]";
        QTest::newRow("preset without key")
            << QByteArray("[gateway]\nsource=mapbox\n")
            << "source mapbox needs key in [gateway] (Mapbox Static Images gives one: "
               "https://account.mapbox.com/auth/signup/)";
        QTest::newRow("server with a path")
            << QByteArray("[gateway]\nserver = https://proxy.example/maps\n")
            << "line 2: server needs an address such as https://host:port, nothing after it";
        QTest::newRow("marker") << QByteArray("[gateway]\nmarker = maybe\n")
                                << "line 2: marker must be on or off";
        QTest::newRow("picture size")
            << QByteArray("[gateway]\npicture_size = 1024\n") << "line 2: picture_size must be 640 or 1280";
        QTest::newRow("country") << QByteArray("[gateway]\ncountry = USA\n")
                                 << "line 2: country must be a two-letter code such as US or GB";
        QTest::newRow("path") << QByteArray("[geocoder]\nlat_path = results[0].lat\n")
                              << "line 2: needs names and numbers joined by dots, such as results.0.lat";
        QTest::newRow("one path") << QByteArray("[geocoder]\nlat_path = results.0.lat\n")
                                  << "lat_path and lon_path in [geocoder] go together";
        QTest::newRow("coordinates without geocoder")
            << QByteArray("[gateway]\nsource=static\n[static]\nurl=https://s.example/?c={lat},{lon}\n")
            << "a static url with {lat} or {lon} needs url in [geocoder]";
        QTest::newRow("tiles without tiles")
            << QByteArray("[gateway]\nsource=tiles\n[tiles]\ngeocoder=http://g/{search}\n")
            << "source tiles needs geocoder and tiles in [tiles]";
    }
    void mistakes()
    {
        QFETCH(QByteArray, text);
        const ConfigFile::Reading r = ConfigFile::parse(text);
        QTEST(r.errors.value(0), "error");
    }

    // A misspelt key is pointed out but harms nothing; a key's value never appears in a message.
    void warnings()
    {
        const ConfigFile::Reading r =
            ConfigFile::parse("[gateway]\nkee = topsecret\n[tiles]\nkey=topsecret\n");
        QVERIFY(r.errors.isEmpty());
        QCOMPARE(r.warnings, (QStringList{QStringLiteral("line 2: unknown setting kee in [gateway]"),
                                          QStringLiteral("line 4: unknown setting key in [tiles]")}));
    }

    // Made for its owner alone, holding the template (which means the demo source), with the
    // folders it needs; a file that exists is left as it is.
    void creation()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("a/b/gateway.conf"));
        QString error;
        QVERIFY2(ConfigFile::ensureExists(path, &error), qPrintable(error));
        QFile file(path);
        // Read and write for its owner, nothing for anyone else.
        QCOMPARE(file.permissions(),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QCOMPARE(text, ConfigFile::templateText());
        file.close();
        const ConfigFile::Reading r = ConfigFile::parse(text);
        QVERIFY(r.errors.isEmpty() && r.warnings.isEmpty());
        QCOMPARE(r.config.source, GatewayConfig::Source::Demo);
        QCOMPARE(QDir(dir.filePath(QStringLiteral("a/b")))
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("gateway.conf")});

        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[gateway]\nsource = static\n");
        file.close();
        QVERIFY(ConfigFile::ensureExists(path, &error));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("[gateway]\nsource = static\n"));

        QVERIFY(!ConfigFile::ensureExists(dir.filePath(QStringLiteral("a/b/gateway.conf/x")), &error));
        QVERIFY(!error.isEmpty());
    }
};

QTEST_MAIN(TestConfigFile)
#include "test_configfile.moc"
