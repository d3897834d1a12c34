#include "platform/PlatformError.h"
#include "platform/qt/QtNetwork.h"

#include "BuildConfig.h"

#include <QDir>
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
                    answer(socket, lastRequest.mid(4, lastRequest.indexOf(' ', 4) - 4));
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
};

QTEST_MAIN(TestQtNetwork)
#include "test_qtnetwork.moc"
