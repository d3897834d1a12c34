#include "DemoSource.h"
#include "Gateway.h"
#include "RawHttp.h"

#include <QImage>
#include <QSaveFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include <memory>

namespace {

const QByteArray Key = "sEcReT-kEy-4711";

// A provider stand-in: each request is recorded and answered as the test says.
struct Script
{
    QList<MapRequest> requests;
    std::function<void(const MapRequest&, QDeadlineTimer, MapSource::Done)> answer;
    int made = 0;
};

class ScriptedSource : public MapSource
{
public:
    explicit ScriptedSource(Script* script) : m_script(script) {}
    void render(const MapRequest& request, QDeadlineTimer deadline, Done done) override
    {
        m_script->requests << request;
        m_script->answer(request, deadline, std::move(done));
    }

private:
    Script* m_script;
};

MapAnswer picture(const QByteArray& bytes)
{
    MapAnswer a;
    a.contentType = "image/png";
    a.body = bytes;
    return a;
}

} // namespace

// The gateway in this process, seen through its socket: the classic page and image requests,
// who may ask, the configuration file changing under it, the time bound, and keys kept out of
// answers and logs.
class TestGateway : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<Gateway> gateway;
    Script script;
    QStringList logLines;
    QString configPath;

    void start(int answerTimeoutMs = Gateway::Options().answerTimeoutMs, int idleExitMs = 0)
    {
        Gateway::Options options;
        options.configPath = configPath;
        options.answerTimeoutMs = answerTimeoutMs;
        options.idleExitMs = idleExitMs;
        gateway = std::make_unique<Gateway>(options);
        gateway->setSourceFactory([this](const GatewayConfig& config) -> std::unique_ptr<MapSource> {
            ++script.made;
            return config.key == QLatin1String("unusable") ? nullptr
                                                           : std::make_unique<ScriptedSource>(&script);
        });
        gateway->setLogger([this](const QString& line) { logLines << line; });
        QVERIFY(gateway->listen(0));
    }
    void writeConfig(const QByteArray& text)
    {
        QSaveFile file(configPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
        QVERIFY(file.commit());
    }
    static QByteArray providerConfig(const QByteArray& key = Key)
    {
        return "[gateway]\nsource = static\nkey = " + key +
               "\n[static]\nurl = http://127.0.0.1:9/map?c={search},x&z={zoom}&k={key}\n";
    }
    quint16 port() const { return gateway->port(); }
    RawAnswer image(const QString& search, const QByteArray& rest = "&w=640&h=640&zl=0", int timeoutMs = 5000)
    {
        return rawGet(port(),
                      "/mapdata?q=" + QUrl::toPercentEncoding(search) + rest + "&t=" + gateway->pageToken(),
                      {}, timeoutMs);
    }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        configPath = dir->filePath(QStringLiteral("gateway.conf"));
        script = Script{};
        script.answer = [](const MapRequest&, QDeadlineTimer, MapSource::Done done) {
            done(picture("PNG!"));
        };
        logLines.clear();
        start();
    }
    void cleanup() { gateway.reset(); }

    void page_data()
    {
        QTest::addColumn<QString>("search");
        QTest::newRow("plain") << "Haverhill MA";
        QTest::newRow("reserved characters") << "Route 1/Main St? & #5 +x=y";
        QTest::newRow("markup and quotes") << "<b>\"Joe's\"</b>";
        QTest::newRow("not ASCII") << QStringLiteral("Z\u00fcrich \u6771\u4eac");
    }
    // One CR LF line holds the unquoted reference the program scans for, built from the search
    // alone; the page asks nothing of the provider.
    void page()
    {
        QFETCH(QString, search);
        writeConfig(providerConfig());
        const RawAnswer page =
            rawGet(port(),
                   "/maps?f=q&source=s_q&output=html&hl=en&q=" + QUrl::toPercentEncoding(search) + "&zoom=1");
        QCOMPARE(page.status(), 200);
        QVERIFY(page.head.contains("\r\nContent-Type: text/html"));
        QVERIFY(page.body.endsWith("\r\n"));
        QCOMPARE(page.body.count("\r\n"), page.body.count('\n'));
        QCOMPARE(page.body.count('\r'), page.body.count('\n'));
        const QByteArray base = "http://127.0.0.1:" + QByteArray::number(port());
        const QByteArray address =
            base + "/mapdata?q=" + QUrl::toPercentEncoding(search) + "&w=640&h=640&t=" + gateway->pageToken();
        const QByteArray line = "<img src=" + address + " style=\"border:0\">";
        QVERIFY2(page.body.split('\r').contains("\n" + line), page.body.constData());
        QCOMPARE(page.body.count("img src="), 1);
        QCOMPARE(gateway->pageToken().size(), 32);
        QVERIFY(!page.body.contains("<b>\"")); // the title is escaped
        QCOMPARE(script.requests.size(), 0);
    }

    void zoom_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<int>("zoom");
        QTest::addColumn<QSize>("size");
        QTest::newRow("zl 0: street level") << QByteArray("&w=640&h=640&zl=0") << 17 << QSize(640, 640);
        QTest::newRow("zl 1") << QByteArray("&w=640&h=640&zl=1") << 16 << QSize(640, 640);
        QTest::newRow("zl 17: the world") << QByteArray("&w=640&h=640&zl=17") << 0 << QSize(640, 640);
        QTest::newRow("beyond the world") << QByteArray("&zl=40") << 0 << QSize(640, 640);
        QTest::newRow("closer than streets") << QByteArray("&zl=-2") << 19 << QSize(640, 640);
        QTest::newRow("far closer") << QByteArray("&zl=-900") << 19 << QSize(640, 640);
        QTest::newRow("no zl, other size") << QByteArray("&w=320&h=240") << 17 << QSize(320, 240);
    }
    void zoom()
    {
        QFETCH(QByteArray, query);
        writeConfig(providerConfig());
        const RawAnswer got = image(QStringLiteral("Haverhill MA"), query);
        QCOMPARE(got.status(), 200);
        QCOMPARE(got.body, QByteArray("PNG!"));
        QVERIFY(got.head.contains("\r\nContent-Type: image/png\r\n"));
        QCOMPARE(script.requests.size(), 1);
        QCOMPARE(script.requests[0].search, QStringLiteral("Haverhill MA"));
        QTEST(script.requests[0].zoom, "zoom");
        QTEST(script.requests[0].size, "size");
    }

    void refused_data()
    {
        QTest::addColumn<QByteArray>("request"); // %PORT% stands for the gateway's port
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("reason");
        const QByteArray target = "/mapdata?q=x&zl=0&t=%TOKEN%";
        const auto get = [&](const QByteArray& headers) {
            return "GET " + target + " HTTP/1.1\r\n" + headers + "\r\n";
        };
        const QByteArray wrongHost =
            "Refused: the map gateway answers only requests addressed to 127.0.0.1:%PORT%";
        QTest::newRow("rebound name") << get("Host: attacker.example:%PORT%\r\n") << 403 << wrongHost;
        QTest::newRow("other port") << get("Host: 127.0.0.1:1\r\n") << 403 << wrongHost;
        QTest::newRow("no port") << get("Host: 127.0.0.1\r\n") << 403 << wrongHost;
        QTest::newRow("no Host") << get({}) << 403 << wrongHost;
        QTest::newRow("name inside") << get("Host: 127.0.0.1:%PORT%.attacker.example\r\n") << 403
                                     << wrongHost;
        QTest::newRow("Origin") << get("Host: 127.0.0.1:%PORT%\r\nOrigin: http://attacker.example\r\n") << 403
                                << QByteArray("Refused: the map gateway does not answer web pages");
        QTest::newRow("Origin null") << get("Host: localhost:%PORT%\r\norigin: null\r\n") << 403
                                     << QByteArray("Refused: the map gateway does not answer web pages");
        for (const char* method : {"POST", "HEAD", "PUT", "OPTIONS", "get"}) {
            QTest::addRow("%s", method)
                << QByteArray(method) + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1:%PORT%\r\n\r\n"
                << 405 << QByteArray("Method Not Allowed: the map gateway answers GET only");
        }
        QTest::newRow("localhost") << get("Host: localhost:%PORT%\r\n") << 200 << QByteArray("OK");
        QTest::newRow("LocalHost") << get("Host: LocalHost:%PORT%\r\n") << 200 << QByteArray("OK");
        QTest::newRow("no search")
            << QByteArray("GET /mapdata?zl=0&t=%TOKEN% HTTP/1.1\r\nHost: 127.0.0.1:%PORT%\r\n\r\n") << 400
            << QByteArray("No search text in the request (q)");
        QTest::newRow("zl not a number")
            << QByteArray("GET /mapdata?q=x&zl=1e3&t=%TOKEN% HTTP/1.1\r\nHost: 127.0.0.1:%PORT%\r\n\r\n")
            << 400 << QByteArray("The zoom level (zl) is not a whole number");
        QTest::newRow("size too big")
            << QByteArray("GET /mapdata?q=x&w=9999&t=%TOKEN% HTTP/1.1\r\nHost: 127.0.0.1:%PORT%\r\n\r\n")
            << 400 << QByteArray("The picture size (w, h) must be 16 to 2048 pixels");
        // A page elsewhere can have the browser fetch a picture but cannot read the token on /maps;
        // what a browser marks as fetched for another site is refused too.
        const QByteArray askMapsFirst =
            "Refused: ask /maps first; the picture's address on that page holds the token /mapdata needs";
        const QByteArray otherSite = "Refused: the map gateway does not answer other web sites";
        const QByteArray host = "Host: 127.0.0.1:%PORT%\r\n";
        QTest::newRow("no token") << get(host).replace("&t=%TOKEN%", "") << 403 << askMapsFirst;
        QTest::newRow("wrong token") << get(host).replace("%TOKEN%", QByteArray(32, 'a')) << 403
                                     << askMapsFirst;
        QTest::newRow("cross-site") << get(host + "Sec-Fetch-Site: cross-site\r\n") << 403 << otherSite;
        QTest::newRow("same-origin") << get(host + "Sec-Fetch-Site: same-origin\r\n") << 403 << otherSite;
        QTest::newRow("typed by the user")
            << get(host + "Sec-Fetch-Site: none\r\n") << 200 << QByteArray("OK");
        QTest::newRow("Referer elsewhere")
            << get(host + "Referer: http://127.0.0.1:1/\r\n") << 403 << otherSite;
        QTest::newRow("Referer of its own page")
            << get(host + "Referer: http://127.0.0.1:%PORT%/maps?q=x\r\n") << 200 << QByteArray("OK");
        QTest::newRow("other path") << QByteArray("GET /maps/x HTTP/1.1\r\nHost: 127.0.0.1:%PORT%\r\n\r\n")
                                    << 404 << QByteArray("Not Found");
        QTest::newRow("request line cap")
            << "GET /mapdata?q=" + QByteArray(9000, 'a') + " HTTP/1.1\r\nHost: 127.0.0.1:%PORT%\r\n\r\n"
            << 414 << QByteArray("URI Too Long");
        QTest::newRow("header cap") << "GET /mapdata?q=x HTTP/1.1\r\nHost: 127.0.0.1:%PORT%\r\nCookie: " +
                                           QByteArray(17000, 'c') + "\r\n\r\n"
                                    << 431 << QByteArray("Request Header Fields Too Large");
    }
    // Only a local program addressing the gateway by a loopback name, with GET, reaches the
    // provider; everyone else is told why not, and the provider hears nothing.
    void refused()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, status);
        QFETCH(QByteArray, reason);
        writeConfig(providerConfig());
        const QByteArray p = QByteArray::number(port());
        request.replace("%TOKEN%", gateway->pageToken());
        const RawAnswer got = rawExchange(port(), request.replace("%PORT%", p));
        QCOMPARE(got.status(), status);
        QCOMPARE(got.reason(), reason.replace("%PORT%", p));
        QCOMPARE(script.requests.size(), status == 200 ? 1 : 0);
    }

    // Every change of the file counts at the next request, and a request already with a source
    // is answered by it.
    void configurationChangesWithoutRestart()
    {
        // Nothing configured: demo pictures, which the provider has no part in.
        RawAnswer got = image(QStringLiteral("Haverhill MA"));
        QCOMPARE(got.status(), 200);
        QCOMPARE(QImage::fromData(got.body, "PNG").size(), QSize(640, 640));

        writeConfig(providerConfig());
        QFile::setPermissions(configPath, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
        got = image(QStringLiteral("Haverhill MA"));
        QCOMPARE(got.body, QByteArray("PNG!"));
        QCOMPARE(script.made, 1);
        QVERIFY(logLines.filter(QStringLiteral("holds a key and others can read it: chmod 600 ") + configPath)
                    .size() == 1);
        got = image(QStringLiteral("Haverhill MA")); // unchanged: the same source
        QCOMPARE(script.made, 1);

        writeConfig("[gateway]\nsource = maps-r-us\n");
        got = image(QStringLiteral("Haverhill MA"));
        QCOMPARE(got.status(), 503);
        QVERIFY2(got.reason() ==
                     "The map gateway's configuration needs a fix: " + configPath.toUtf8() +
                         " line 2: source must be demo, static or tiles, or a provider's name such as "
                         "maptiler. Choose a real map provider at " +
                         gateway->pageUrl().toUtf8(),
                 got.reason().constData());

        writeConfig(providerConfig("unusable"));
        got = image(QStringLiteral("Haverhill MA"));
        QCOMPARE(got.status(), 503);
        QVERIFY2(got.reason().contains(configPath.toUtf8()) && got.reason().contains("set source = demo") &&
                     got.reason().endsWith(". Choose a real map provider at " + gateway->pageUrl().toUtf8()),
                 got.reason().constData());

        // A slow answer from the provider outlives the switch back to demo maps.
        writeConfig(providerConfig());
        script.answer = [](const MapRequest&, QDeadlineTimer, MapSource::Done done) {
            QTimer::singleShot(300, [done] { done(picture("late but fine")); });
        };
        QTimer::singleShot(100, this, [this] {
            writeConfig("[gateway]\nsource = demo\n");
            const RawAnswer demo = image(QStringLiteral("elsewhere"));
            QCOMPARE(demo.status(), 200);
            QVERIFY(demo.body.startsWith("\x89PNG"));
        });
        got = image(QStringLiteral("Haverhill MA"));
        QCOMPARE(got.body, QByteArray("late but fine"));
        QTRY_VERIFY(std::any_of(logLines.cbegin(), logLines.cend(), [](const QString& l) {
            return l.contains(QLatin1String("/mapdata?q=elsewhere"));
        }));
    }

    void answersOfTheSource_data()
    {
        QTest::addColumn<int>("sourceStatus");
        QTest::addColumn<QByteArray>("sourceReason");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("reason");
        QTest::newRow("a reason to act on")
            << 404 << QByteArray("No place found for \"Xyzzy\"") << QByteArray() << 404
            << QByteArray("No place found for \"Xyzzy\"");
        QTest::newRow("key in the reason")
            << 502 << "The provider said: bad key " + Key + " or " + QUrl::toPercentEncoding(Key + "/")
            << QByteArray() << 502 << QByteArray("The provider said: bad key [key] or [key]%2F");
        QTest::newRow("lines in the reason") << 503 << QByteArray("busy\r\nSet-Cookie: x=1") << QByteArray()
                                             << 503 << QByteArray("busy Set-Cookie: x=1");
        QTest::newRow("not Latin-1")
            << 404 << QByteArray("No place found for \"\xe6\x9d\xb1\xe4\xba\xac\" in Z\xc3\xbcrich")
            << QByteArray() << 404 << QByteArray("No place found for \"??\" in Z\xfcrich");
        QTest::newRow("not an error status")
            << 302 << QByteArray("Found") << QByteArray() << 502 << QByteArray("Found");
        QTest::newRow("empty picture") << 200 << QByteArray("OK") << QByteArray() << 502
                                       << QByteArray("The map provider sent an empty picture");
    }
    // The source's failure reaches the program as a status and reason phrase it can show, never
    // with a key in it; the log holds no key either.
    void answersOfTheSource()
    {
        QFETCH(int, sourceStatus);
        QFETCH(QByteArray, sourceReason);
        QFETCH(QByteArray, body);
        writeConfig(providerConfig());
        script.answer = [&](const MapRequest&, QDeadlineTimer, MapSource::Done done) {
            MapAnswer a = MapAnswer::failure(sourceStatus, sourceReason);
            a.body = body;
            done(a);
        };
        // Someone may even send the key: it does not come back, nor reach the log.
        const RawAnswer got = image(QString::fromUtf8("Xyzzy " + Key));
        QTEST(got.status(), "status");
        QTEST(got.reason(), "reason");
        QVERIFY(!got.head.contains(Key) && !got.body.contains(Key));
        QVERIFY(!logLines.isEmpty());
        for (const QString& line : std::as_const(logLines)) {
            QVERIFY2(!line.contains(QString::fromUtf8(Key)), qPrintable(line));
            QVERIFY2(!line.contains(QString::fromUtf8(QUrl::toPercentEncoding(Key))), qPrintable(line));
        }
    }

    // A source that does not answer in time gets answered for; whatever it says later, or a
    // second answer, goes nowhere.
    void answeredWithinTheBound()
    {
        gateway.reset();
        start(600);
        writeConfig(providerConfig());
        std::vector<MapSource::Done> kept;
        QDeadlineTimer given;
        script.answer = [&](const MapRequest&, QDeadlineTimer deadline, MapSource::Done done) {
            given = deadline;
            kept.push_back(std::move(done));
        };
        const RawAnswer got = image(QStringLiteral("stuck"));
        QCOMPARE(got.status(), 504);
        QCOMPARE(got.reason(), QByteArray("The map provider did not answer in time; try again later"));
        QVERIFY2(got.ms >= 550 && got.ms < 2000, qPrintable(QString::number(got.ms)));
        QVERIFY(given.hasExpired()); // the source was told to be done before the gateway's bound
        QCOMPARE(kept.size(), size_t(1));
        kept[0](picture("too late"));
        kept[0](picture("and again"));

        script.answer = [](const MapRequest&, QDeadlineTimer, MapSource::Done done) {
            done(picture("first"));
            done(MapAnswer::failure(500, "second"));
        };
        QCOMPARE(image(QStringLiteral("twice")).body, QByteArray("first"));
    }

    // As shipped: every picture answered within 20 s (the source told to be done a little
    // before), and a connection cut 10 s after that at the latest.
    void shippedBounds()
    {
        writeConfig(providerConfig());
        QDeadlineTimer given;
        script.answer = [&](const MapRequest&, QDeadlineTimer deadline, MapSource::Done done) {
            given = deadline;
            done(picture("PNG!"));
        };
        QCOMPARE(image(QStringLiteral("x")).status(), 200);
        QVERIFY2(given.remainingTime() > 19'000 && given.remainingTime() <= 19'500,
                 qPrintable(QString::number(given.remainingTime())));
        QCOMPARE(gateway->server().limits().lifetimeMs, 30'000);
    }

    // The demo picture names the zoom as the user chose it in Orrowdale, beside the zl it shows.
    void demoCaption()
    {
        MapRequest request;
        request.zoom = Gateway::webZoom(4);
        QVERIFY(DemoSource::caption(request).contains(QStringLiteral("Orrowdale zoom 5 (zl 4)")));
    }

    // A client that leaves mid-picture is forgotten: the source's answer goes nowhere.
    void clientLeaves()
    {
        writeConfig(providerConfig());
        MapSource::Done kept;
        script.answer = [&](const MapRequest&, QDeadlineTimer, MapSource::Done done) {
            kept = std::move(done);
        };
        {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port());
            QVERIFY(socket.waitForConnected(2000));
            socket.write("GET /mapdata?q=x&t=" + gateway->pageToken() +
                         " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port()) + "\r\n\r\n");
            QTRY_COMPARE(script.requests.size(), 1);
            resetConnection(socket);
        }
        QTRY_COMPARE(gateway->server().openConnections(), 0);
        kept(picture("nobody wants it"));
        script.answer = [](const MapRequest&, QDeadlineTimer, MapSource::Done done) {
            done(picture("PNG!"));
        };
        QCOMPARE(image(QStringLiteral("y")).body, QByteArray("PNG!"));
    }

    // Idle means no request open: a request that takes long keeps the gateway.
    void idle()
    {
        gateway.reset();
        start(5000, 300);
        writeConfig(providerConfig());
        QSignalSpy idled(gateway.get(), &Gateway::idle);
        QVERIFY(idled.wait(2000));
        script.answer = [](const MapRequest&, QDeadlineTimer, MapSource::Done done) {
            QTimer::singleShot(800, [done] { done(picture("slow")); });
        };
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(image(QStringLiteral("slow")).body, QByteArray("slow"));
        QCOMPARE(idled.size(), 1);
        QVERIFY(idled.wait(2000));
        QVERIFY(clock.elapsed() >= 1000);
    }
};

QTEST_MAIN(TestGateway)
#include "test_gateway.moc"
