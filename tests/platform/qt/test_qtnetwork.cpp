#include "platform/PlatformError.h"
#include "platform/qt/QtNetwork.h"

#include "BuildConfig.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

using namespace std::chrono_literals;

// What the capture runs against the map service can't show: the request's headers, the limit
// on redirects, and a page file that is whole or absent.
class TestQtNetwork : public QObject
{
    Q_OBJECT

    QTcpServer server;
    QByteArray lastRequest;
    QStringList asked; // every target, in the order the requests came
    QtNetwork network;
    QTemporaryDir dir;

    QString url(const char* path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(server.serverPort()).arg(QLatin1String(path));
    }
    // "/hops/N" redirects N times before it answers; "/half" sends half its body and stalls.
    void answer(QTcpSocket* s, const QByteArray& path)
    {
        const int hops = path.mid(6).toInt();
        if (path == "/half")
            s->write("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhalf ");
        else if (hops > 0)
            s->write("HTTP/1.1 302 Found\r\nContent-Length: 0\r\nLocation: /hops/" +
                     QByteArray::number(hops - 1) + "\r\n\r\n");
        else
            s->write("HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\narrived");
    }

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen(QHostAddress::LocalHost));
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    lastRequest = socket->readAll();
                    const QByteArray target = lastRequest.mid(4, lastRequest.indexOf(' ', 4) - 4);
                    asked << QString::fromLatin1(target);
                    answer(socket, target.split('?').constFirst());
                });
        });
        network.setIdleTimeout(300ms);
    }

    void redirectsAndUserAgent()
    {
        QCOMPARE(network.openUrl(url("/hops/10")), QByteArray("arrived"));
        QVERIFY(
            lastRequest.contains("\r\nUser-Agent: Orrowdale/" + QByteArray(BuildConfig::Version) + "\r\n"));
        try {
            network.openUrl(url("/hops/11"));
            QFAIL("fetched");
        } catch (const PlatformError& e) {
            QVERIFY2(e.description().contains(u"more than 10 redirects"), qPrintable(e.description()));
        }
    }

    void pageFileWholeOrAbsent()
    {
        const QString page = dir.filePath(QStringLiteral("map.html"));
        QFile file(page);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(5000, 'o')) == 5000);
        file.close();
        network.downloadToFile(url("/hops/0"), page);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("arrived"));
        file.close();
        QVERIFY_THROWS_EXCEPTION(PlatformError, network.downloadToFile(url("/half"), page));
        QVERIFY(QDir(dir.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }

    // The page replaces a link at its path, never writes through it; a path cut short by a NUL
    // is refused before anything is fetched or written.
    void pageFileNames()
    {
        QTemporaryDir elsewhere;
        const QString target = elsewhere.filePath(QStringLiteral("target"));
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("kept") == 4);
        file.close();
        const QString page = dir.filePath(QStringLiteral("map.html"));
        QVERIFY(QFile::link(target, page));
        network.downloadToFile(url("/hops/0"), page);
        QVERIFY(!QFileInfo(page).isSymLink());
        QVERIFY(QFile::remove(page));
        try {
            network.downloadToFile(url("/hops/0"), target + QChar(0));
            QFAIL("downloaded");
        } catch (const PlatformError& e) {
            QVERIFY2(e.description().contains(u"cannot hold a control character (code 0)"),
                     qPrintable(e.description()));
        }
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("kept"));
        QCOMPARE(QDir(elsewhere.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"target"});
        QVERIFY(QDir(dir.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }

    // A page and the picture it names, fetched ahead: taken by the next fetches of exactly those
    // addresses, failures included; anything else asked first drops them.
    void fetchesAhead_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("image");       // what the page makes
        QTest::addColumn<QStringList>("fetched"); // then, in turn
        QTest::addColumn<QStringList>("asked");   // of the server, in all
        const QString page = QStringLiteral("/hops/0?page"), image = QStringLiteral("/hops/0?image");
        QTest::newRow("page, then picture")
            << page << image << QStringList{page, image} << QStringList{page, image};
        QTest::newRow("no picture address")
            << page << QString() << QStringList{page, image} << QStringList{page, image};
        QTest::newRow("another address first") << page << image << QStringList{"/hops/0?other", page}
                                               << QStringList{page, image, "/hops/0?other", page};
        QTest::newRow("a failure, as in turn")
            << "/half" << image << QStringList{"/half"} << QStringList{"/half"};
        QTest::newRow("gone before it ended") << "/half" << image << QStringList{} << QStringList{"/half"};
    }
    void fetchesAhead()
    {
        QFETCH(QString, page);
        QFETCH(QString, image);
        QFETCH(QStringList, fetched);
        asked.clear();
        QElapsedTimer gone;
        {
            QtNetwork ahead;
            // Long enough that only a fetch given up ends the last row's in time.
            ahead.setIdleTimeout(fetched.isEmpty() ? 10s : 300ms);
            ahead.expect(url(page.toLatin1()),
                         [next = image.isEmpty() ? QString() : url(image.toLatin1())](
                             const QByteArray& body) { return body == "arrived" ? next : QString(); });
            QTRY_COMPARE(asked.size(), page == u"/half" || image.isEmpty() ? 1 : 2);
            for (const QString& target : fetched) {
                try {
                    QCOMPARE(ahead.openUrl(url(target.toLatin1())), QByteArray("arrived"));
                } catch (const PlatformError& e) {
                    QVERIFY2(e.description().contains(u"no answer came for 0.3 seconds"),
                             qPrintable(e.description()));
                }
            }
            gone.start();
        }
        QVERIFY2(gone.elapsed() < 3000, qPrintable(QString::number(gone.elapsed())));
        QTEST(asked, "asked");
    }
};

QTEST_MAIN(TestQtNetwork)
#include "test_qtnetwork.moc"
