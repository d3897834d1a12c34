#include "MapService.h"
#include "support/MapServiceProcess.h"

#include <QBuffer>
#include <QImageReader>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QRegularExpression>
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
};

// One GET, redirects not followed, given up after timeoutMs.
Fetched get(const QString& url, int timeoutMs = 5000)
{
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request{QUrl(url)};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    std::unique_ptr<QNetworkReply> reply(manager.get(request));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    Fetched out;
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

// The local map service as clients see it: the classic page, real GIFs, the answers a client
// must not trust, and requests no client of ours would send.
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
        QTest::newRow("two lines: the last wins") << "a fault-twolines" << true << 2 << QSize(320, 240);
        QTest::newRow("LF only: one line, first wins") << "a fault-lf" << false << 1 << QSize(640, 640);
        QTest::newRow("quoted src") << "a fault-quoted" << true << 0 << QSize();
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
        QCOMPARE(decode(image.body).size(), picked);
        QVERIFY(service->requestTargets().constLast().endsWith(QLatin1String("&zl=3")));
    }

    // An error answer carries a usable page and a redirect leads out of the web, so a client that
    // ignored the status or followed any redirect would wrongly succeed.
    void transportFaults()
    {
        const Fetched notFound = get(pageUrl(base, QStringLiteral("x fault-404")));
        QCOMPARE(notFound.status, 404);
        QCOMPARE(references(notFound.body, base).size(), 1);
        const Fetched redirect = get(imageUrl(QStringLiteral("x fault-image-redirect-file"), 64, 48, 0));
        QCOMPARE(redirect.status, 302);
        QCOMPARE(redirect.location, QByteArray("file:///etc/passwd"));
        QCOMPARE(service->requestTargets().size(), 2);
    }

    // A second service on a port in use is reported, not hung on.
    void portInUse()
    {
        MapServiceProcess clash({QStringLiteral("--port"), QString::number(service->port())});
        QVERIFY(!clash.isRunning());
        QVERIFY2(clash.errorString().contains(QLatin1String("cannot listen")),
                 qPrintable(clash.errorString()));
    }
};

QTEST_MAIN(TestMapService)
#include "test_mapservice.moc"
