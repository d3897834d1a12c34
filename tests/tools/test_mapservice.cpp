#include "MapImage.h"
#include "MapService.h"
#include "support/MapServiceProcess.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QImageReader>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include <memory>

namespace {

struct Fetched
{
    int status = 0;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QByteArray body;
    QByteArray contentType;
    QByteArray location;
    bool hasLength = false;
    qint64 elapsedMs = 0;
};

// One GET, redirects not followed, given up after timeoutMs.
Fetched get(const QString& url, int timeoutMs = 5000)
{
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request{QUrl(url)};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QNetworkReply> reply(manager.get(request));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    Fetched out;
    out.elapsedMs = clock.elapsed();
    if (!reply->isFinished()) {
        reply->abort();
        out.error = QNetworkReply::TimeoutError;
        return out;
    }
    out.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    out.error = reply->error();
    out.body = reply->readAll();
    out.contentType = reply->rawHeader("Content-Type");
    out.location = reply->rawHeader("Location");
    out.hasLength = reply->hasRawHeader("Content-Length");
    return out;
}

QImage decode(const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer, "gif");
    return reader.read();
}

// The image references a client finds on a page: lines end at CR or CR LF (not LF alone), in
// each line the first unquoted reference counts, cut just before the blank in front of "style=".
QStringList references(const QByteArray& page, const QString& base)
{
    const QByteArray pattern = "img src=" + base.toUtf8() + "/mapdata?";
    QStringList found;
    QByteArray normalised = page;
    normalised.replace("\r\n", "\r");
    for (const QByteArray& line : normalised.split('\r')) {
        const qsizetype p = line.indexOf(pattern);
        if (p < 0) {
            continue;
        }
        const qsizetype start = p + 8;
        const qsizetype style = line.indexOf("style=", start);
        found << (style < 0 ? QStringLiteral("<no style=>")
                            : QString::fromUtf8(line.mid(start, style - 1 - start)));
    }
    return found;
}

QString pageUrl(const QString& base, const QString& search)
{
    return base + QStringLiteral("/maps?f=q&source=s_q&output=html&hl=en&q=") +
           QString::fromLatin1(QUrl::toPercentEncoding(search)) + QStringLiteral("&zoom=1");
}

} // namespace

// The local map service as clients see it: the classic page, real GIFs, and every fault it plays.
class TestMapService : public QObject
{
    Q_OBJECT

    std::unique_ptr<MapService> service;
    QString base;

    QString imageUrl(const QString& search, int w, int h, int zl) const
    {
        return QStringLiteral("%1/mapdata?oi=map&q=%2&w=%3&h=%4&zl=%5")
            .arg(base, QString::fromLatin1(QUrl::toPercentEncoding(search)))
            .arg(w)
            .arg(h)
            .arg(zl);
    }

private slots:
    void init()
    {
        service = std::make_unique<MapService>();
        QVERIFY2(service->listen(), qPrintable(service->errorString()));
        base = service->baseUrl();
        QVERIFY(QRegularExpression(QStringLiteral("^http://127\\.0\\.0\\.1:\\d+$")).match(base).hasMatch());
    }
    void cleanup() { service.reset(); }

    void page_data()
    {
        QTest::addColumn<QString>("search");
        QTest::addColumn<bool>("crlf");
        QTest::addColumn<int>("matches");
        QTest::addColumn<QSize>("picked");
        QTest::newRow("plain") << "Haverhill MA" << true << 1 << QSize(640, 640);
        QTest::newRow("odd characters") << "Route 1/Main St? & #5 +x" << true << 1 << QSize(640, 640);
        QTest::newRow("empty search") << "" << true << 1 << QSize(640, 640);
        QTest::newRow("image fault leaves the page alone")
            << "a fault-image-huge" << true << 1 << QSize(640, 640);
        QTest::newRow("two lines: the last wins") << "a fault-twolines" << true << 2 << QSize(320, 240);
        QTest::newRow("LF only: one line, first wins") << "a fault-lf" << false << 1 << QSize(640, 640);
        QTest::newRow("quoted src") << "a fault-quoted" << true << 0 << QSize();
        QTest::newRow("file: src") << "a fault-file-ref" << true << 0 << QSize();
        QTest::newRow("data: src") << "a fault-data-ref" << true << 0 << QSize();
    }
    // The page a client scans, and the image its reference leads to.
    void page()
    {
        QFETCH(QString, search);
        QFETCH(bool, crlf);
        QFETCH(int, matches);
        QFETCH(QSize, picked);

        const Fetched page = get(pageUrl(base, search));
        QCOMPARE(page.status, 200);
        QVERIFY(page.contentType.startsWith("text/html"));
        QVERIFY(page.body.count('\n') >= 6);
        QCOMPARE(page.body.count("\r\n"), crlf ? page.body.count('\n') : 0);
        QCOMPARE(page.body.count('\r'), page.body.count("\r\n"));

        const QStringList refs = references(page.body, base);
        QCOMPARE(refs.size(), matches);
        if (matches == 0) {
            return;
        }
        const QString ref = refs.last();
        QVERIFY2(ref.startsWith(base + QStringLiteral("/mapdata?")), qPrintable(ref));
        QVERIFY2(!ref.contains(QLatin1Char(' ')) && !ref.contains(QLatin1Char('"')), qPrintable(ref));
        QCOMPARE(QUrlQuery(QUrl(ref)).queryItemValue(QStringLiteral("q"), QUrl::FullyDecoded), search);

        const Fetched image = get(ref + QStringLiteral("&zl=3"));
        QCOMPARE(image.status, 200);
        QCOMPARE(image.contentType, QByteArray("image/gif"));
        if (search.contains(QLatin1String("fault-image-huge"))) {
            return; // the word reached the image request: covered by imageFaults
        }
        QCOMPARE(decode(image.body).size(), picked);
        QVERIFY(service->requestTargets().constLast().endsWith(QLatin1String("&zl=3")));
    }

    // Pictures are drawn per search and zoom, at the size asked for, and repeat exactly.
    void image()
    {
        const QByteArray a = get(imageUrl(QStringLiteral("Haverhill MA"), 640, 640, 4)).body;
        const QImage decoded = decode(a);
        QCOMPARE(decoded.size(), QSize(640, 640));
        QCOMPARE(decode(get(imageUrl(QStringLiteral("Haverhill MA"), 200, 100, 4)).body).size(),
                 QSize(200, 100));
        QCOMPARE(get(imageUrl(QStringLiteral("Haverhill MA"), 640, 640, 4)).body, a);
        QVERIFY(get(imageUrl(QStringLiteral("Haverhill MA"), 640, 640, 5)).body != a);
        QVERIFY(get(imageUrl(QStringLiteral("Londonderry UK"), 640, 640, 4)).body != a);
        QVERIFY(decoded.pixelColor(320, 320) != decoded.pixelColor(320, 300)); // not a blank picture

        // A page makes the service draw its picture ahead, at the zoom last asked for: the same picture.
        const Fetched page = get(pageUrl(base, QStringLiteral("Ahead")));
        QCOMPARE(get(references(page.body, base).constFirst() + QStringLiteral("&zl=4")).body,
                 encodeGif(drawMap(QStringLiteral("Ahead"), 4, QSize(640, 640))));

        const QStringList targets = service->requestTargets();
        QCOMPARE(targets.size(), 7);
        QVERIFY(targets[0].endsWith(QLatin1String("&zl=4")));
        QVERIFY(targets[3].endsWith(QLatin1String("&zl=5")));
    }

    void imageFaults_data()
    {
        QTest::addColumn<QString>("word");
        QTest::newRow("half a GIF") << "fault-image-halfgif";
        QTest::newRow("empty") << "fault-image-empty";
        QTest::newRow("huge") << "fault-image-huge";
        QTest::newRow("html") << "fault-image-html";
    }
    // Complete answers with status 200 that are not the picture asked for.
    void imageFaults()
    {
        QFETCH(QString, word);
        const Fetched image = get(imageUrl(word, 640, 640, 1));
        QCOMPARE(image.status, 200);
        QCOMPARE(image.error, QNetworkReply::NoError);
        if (word.endsWith(QLatin1String("halfgif"))) {
            const QByteArray whole = service->gif(word, 1, QSize(640, 640));
            QCOMPARE(image.body, whole.left(whole.size() / 2));
            return;
        }
        QVERIFY(decode(image.body).isNull());
        if (word.endsWith(QLatin1String("empty"))) {
            QVERIFY(image.body.isEmpty() && image.hasLength);
        } else if (word.endsWith(QLatin1String("huge"))) {
            QByteArray bytes = image.body;
            QBuffer buffer(&bytes);
            QCOMPARE(QImageReader(&buffer, "gif").size(), QSize(65535, 65535));
        } else {
            QVERIFY(image.contentType.startsWith("text/html"));
            QVERIFY(image.body.startsWith("<html>"));
        }
    }

    void transportFaults_data()
    {
        QTest::addColumn<bool>("onImage");
        QTest::addColumn<QString>("fault");
        for (const bool onImage : {false, true}) {
            for (const char* fault : {"404", "500", "redirect-loop", "redirect-file", "redirect-data"}) {
                QTest::addRow("%s %s", onImage ? "image" : "page", fault)
                    << onImage << QString::fromLatin1(fault);
            }
        }
    }
    // Error answers carry a usable body and redirects lead somewhere usable, so a client that
    // ignored the status or followed any redirect would wrongly succeed.
    void transportFaults()
    {
        QFETCH(bool, onImage);
        QFETCH(QString, fault);
        const QString search =
            QStringLiteral("x fault-%1%2").arg(onImage ? QStringLiteral("image-") : QString(), fault);
        const QString url = onImage ? imageUrl(search, 64, 48, 0) : pageUrl(base, search);
        const Fetched answer = get(url);
        auto usable = [&](const QByteArray& body) {
            return onImage ? decode(body).size() == QSize(64, 48) : references(body, base).size() == 1;
        };
        if (fault == QLatin1String("404") || fault == QLatin1String("500")) {
            QCOMPARE(answer.status, fault.toInt());
            QVERIFY(usable(answer.body));
        } else {
            QCOMPARE(answer.status, 302);
            if (fault == QLatin1String("redirect-loop")) {
                QCOMPARE(QUrl(QString::fromUtf8(answer.location)), QUrl(url));
            } else if (fault == QLatin1String("redirect-file")) {
                QCOMPARE(answer.location, QByteArray("file:///etc/passwd"));
            } else {
                QVERIFY(answer.location.startsWith(onImage ? "data:image/gif;base64,"
                                                           : "data:text/html;base64,"));
                QVERIFY(
                    usable(QByteArray::fromBase64(answer.location.mid(answer.location.indexOf(',') + 1))));
            }
        }
        QCOMPARE(service->requestTargets().size(), 1);
    }

    void stall()
    {
        MapService::Limits limits;
        limits.stallMs = 400;
        service->setLimits(limits);
        const Fetched answer = get(pageUrl(base, QStringLiteral("fault-stall")));
        QCOMPARE(answer.status, 0);
        QVERIFY(answer.body.isEmpty());
        QCOMPARE(answer.error, QNetworkReply::RemoteHostClosedError);
        QVERIFY2(answer.elapsedMs >= 350 && answer.elapsedMs < 4000,
                 qPrintable(QString::number(answer.elapsedMs)));
    }

    void drip()
    {
        MapService::Limits limits;
        limits.dripIntervalMs = 0;
        service->setLimits(limits);
        // Slow but complete: the whole declared body arrives.
        Fetched answer = get(pageUrl(base, QStringLiteral("a fault-drip")));
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.error, QNetworkReply::NoError);
        QVERIFY(answer.body.endsWith("</body></html>\r\n"));
        QCOMPARE(references(answer.body, base).size(), 1);

        // Cut off at the limit: never the whole body.
        limits.dripIntervalMs = 40;
        limits.dripLimitMs = 300;
        service->setLimits(limits);
        answer = get(imageUrl(QStringLiteral("fault-image-drip"), 640, 640, 0));
        QVERIFY(answer.error != QNetworkReply::NoError);
        QVERIFY2(answer.elapsedMs >= 250 && answer.elapsedMs < 4000,
                 qPrintable(QString::number(answer.elapsedMs)));
    }

    void truncated()
    {
        const Fetched image = get(imageUrl(QStringLiteral("fault-image-truncated"), 640, 640, 1));
        QVERIFY(image.error != QNetworkReply::NoError);
        QVERIFY(image.body.size() <
                service->gif(QStringLiteral("fault-image-truncated"), 1, QSize(640, 640)).size());
    }

    void endless()
    {
        MapService::Limits limits;
        limits.endlessBytes = 3 << 20;
        service->setLimits(limits);
        const Fetched answer = get(pageUrl(base, QStringLiteral("fault-endless")), 20'000);
        QCOMPARE(answer.status, 200);
        QVERIFY(!answer.hasLength);
        QCOMPARE(answer.body.size(), qsizetype(3 << 20));
        QVERIFY(answer.body.startsWith("<html>"));
    }

    void refusals_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("statusLine");
        QTest::newRow("unknown path")
            << QByteArray("GET /elsewhere HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 404");
        QTest::newRow("not GET") << QByteArray("POST /maps?q=a HTTP/1.1\r\n\r\n")
                                 << QByteArray("HTTP/1.1 405");
        QTest::newRow("garbage") << QByteArray("hello\r\n\r\n") << QByteArray("HTTP/1.1 400");
        QTest::newRow("unknown fault")
            << QByteArray("GET /maps?q=fault-nonsense HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 400");
        QTest::newRow("page fault word on the image")
            << QByteArray("GET /mapdata?q=fault-image-quoted HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 400");
        QTest::newRow("size out of range")
            << QByteArray("GET /mapdata?q=a&w=0&h=10 HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 400");
        QTest::newRow("zoom not a number")
            << QByteArray("GET /mapdata?q=a&zl=four HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 400");
        QTest::newRow("header too large")
            << "GET /maps?q=" + QByteArray(20'000, 'a') << QByteArray("HTTP/1.1 431");
        QTest::newRow("never finished") << QByteArray("GET /maps?q=a HTTP/1.1\r\n") << QByteArray();
    }
    // Whatever a client sends, it gets an answer or the connection closes, in bounded time.
    void refusals()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, statusLine);
        MapService::Limits limits;
        limits.requestTimeoutMs = 300;
        service->setLimits(limits);
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, service->port());
        QVERIFY(socket.waitForConnected(2000));
        socket.write(request);
        QByteArray received;
        connect(&socket, &QTcpSocket::readyRead, this, [&] { received += socket.readAll(); });
        QTRY_VERIFY_WITH_TIMEOUT(socket.state() != QAbstractSocket::ConnectedState, 4000);
        received += socket.readAll();
        QVERIFY2(received.startsWith(statusLine), received.left(40).constData());
    }

    // The service as a program, the way tests of the whole application use it.
    void process()
    {
        MapServiceProcess running;
        QVERIFY2(running.isRunning(), qPrintable(running.errorString()));
        QVERIFY(QRegularExpression(QStringLiteral("^http://127\\.0\\.0\\.1:\\d+$"))
                    .match(running.baseUrl())
                    .hasMatch());
        const Fetched page = get(pageUrl(running.baseUrl(), QStringLiteral("Haverhill MA")));
        const QStringList refs = references(page.body, running.baseUrl());
        QCOMPARE(refs.size(), 1);
        QCOMPARE(decode(get(refs.first() + QStringLiteral("&zl=4")).body).size(), QSize(640, 640));
        QVERIFY(running.waitForRequest(QStringLiteral("&zl=4")));
        const QStringList targets = running.requestTargets();
        QCOMPARE(targets.size(), 2);
        QVERIFY(targets[0].startsWith(QLatin1String("/maps?")) &&
                targets[0].endsWith(QLatin1String("&zoom=1")));

        // Options reach the service; a port in use is reported, not hung on.
        MapServiceProcess overridden({QStringLiteral("--base"), QStringLiteral("http://localhost:1")});
        QVERIFY(overridden.isRunning());
        QCOMPARE(references(get(pageUrl(overridden.baseUrl(), QStringLiteral("a"))).body,
                            QStringLiteral("http://localhost:1"))
                     .size(),
                 1);
        MapServiceProcess clash({QStringLiteral("--port"), QString::number(service->port())});
        QVERIFY(!clash.isRunning());
        QVERIFY2(clash.errorString().contains(QLatin1String("cannot listen")),
                 qPrintable(clash.errorString()));
    }
};

QTEST_MAIN(TestMapService)
#include "test_mapservice.moc"
