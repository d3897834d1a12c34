#include "platform/PlatformError.h"
#include "platform/qt/QtNetwork.h"

#include "BuildConfig.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace std::chrono_literals;

namespace {

// A loopback HTTP server whose answer the request path chooses, faults included.
class Server : public QTcpServer
{
public:
    QByteArray lastRequest;

    Server()
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    const QByteArray request = socket->property("request").toByteArray() + socket->readAll();
                    socket->setProperty("request", request);
                    if (request.contains("\r\n\r\n")) {
                        lastRequest = request;
                        answer(socket, request.mid(4, request.indexOf(' ', 4) - 4));
                    }
                });
            }
        });
    }
    QString url(const QString& path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(serverPort()).arg(path);
    }

private:
    static void reply(QTcpSocket* s, const QByteArray& status, const QByteArray& body,
                      const QByteArray& headers = {})
    {
        s->write("HTTP/1.1 " + status + "\r\nContent-Length: " + QByteArray::number(body.size()) +
                 "\r\nConnection: close\r\n" + headers + "\r\n" + body);
        s->disconnectFromHost();
    }
    static void every(QTcpSocket* s, std::chrono::milliseconds interval, std::function<void()> work)
    {
        auto* timer = new QTimer(s);
        connect(timer, &QTimer::timeout, s, work);
        timer->start(interval);
    }
    void answer(QTcpSocket* s, const QByteArray& path)
    {
        if (path == "/ok")
            reply(s, "200 OK", "line one\r\nline two");
        else if (path == "/empty")
            reply(s, "200 OK", "");
        else if (path.startsWith("/status/"))
            reply(s, path.mid(8) + " Trouble", "<html>an error page</html>");
        else if (path.startsWith("/hops/")) {
            const int left = path.mid(6).toInt();
            if (left == 0)
                reply(s, "200 OK", "arrived");
            else
                reply(s, "302 Found", "", "Location: /hops/" + QByteArray::number(left - 1) + "\r\n");
        } else if (path == "/loop")
            reply(s, "302 Found", "", "Location: /loop\r\n");
        else if (path == "/to-file")
            reply(s, "302 Found", "", "Location: file:///etc/hostname\r\n");
        else if (path == "/declared-big")
            s->write("HTTP/1.1 200 OK\r\nContent-Length: 2000000\r\n\r\n");
        else if (path == "/endless") {
            s->write("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
            every(s, 1ms, [s] { s->write(QByteArray(64 * 1024, 'x')); });
        } else if (path == "/drip") {
            s->write("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n");
            every(s, 50ms, [s] { s->write("x"); });
        } // "/stall" and anything else: no answer at all
    }
};

} // namespace

// The real network code against a loopback server: what it fetches, what it refuses, and that a
// failure leaves no page file behind.
class TestQtNetwork : public QObject
{
    Q_OBJECT

    Server server;
    QtNetwork network;
    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        QVERIFY(server.isListening());
        network.setIdleTimeout(300ms);
        network.setDeadline(1s);
        network.setSizeCap(1024 * 1024);
    }

    void fetches()
    {
        QCOMPARE(network.openUrl(server.url(QStringLiteral("/ok"))), QByteArray("line one\r\nline two"));
        QVERIFY(server.lastRequest.contains("\r\nUser-Agent: Orrowdale/" + QByteArray(BuildConfig::Version) +
                                            "\r\n"));
        QCOMPARE(network.openUrl(server.url(QStringLiteral("/empty"))), QByteArray());
        QCOMPARE(network.openUrl(server.url(QStringLiteral("/hops/10"))), QByteArray("arrived"));

        // The page file holds the body byte for byte and replaces an earlier file.
        const QString page = dir.filePath(QStringLiteral("map.html"));
        QFile old(page);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write(QByteArray(5000, 'o')) == 5000);
        old.close();
        network.downloadToFile(server.url(QStringLiteral("/ok")), page);
        QFile file(page);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("line one\r\nline two"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("map.html")});
    }

    void failures_data()
    {
        QTest::addColumn<QString>("address"); // a path on the server, or a whole address
        QTest::addColumn<QString>("reason");
        QTest::newRow("404") << "/status/404"
                             << "the server answered 404 Trouble";
        QTest::newRow("500") << "/status/500"
                             << "the server answered 500 Trouble";
        QTest::newRow("400") << "/status/400"
                             << "the server answered 400 Trouble";
        QTest::newRow("11 redirects") << "/hops/11"
                                      << "more than 10 redirects";
        QTest::newRow("redirect loop") << "/loop"
                                       << "more than 10 redirects";
        QTest::newRow("redirect to file") << "/to-file"
                                          << "file:///etc/hostname";
        QTest::newRow("stall") << "/stall"
                               << "no answer came for 0.3 seconds";
        QTest::newRow("drip") << "/drip"
                              << "not complete after 1 seconds";
        QTest::newRow("declared too big") << "/declared-big"
                                          << "larger than 1 MiB";
        QTest::newRow("endless") << "/endless"
                                 << "larger than 1 MiB";
        QTest::newRow("file address") << "file:///etc/hostname"
                                      << "only http and https";
        QTest::newRow("relative address") << "&zl=4"
                                          << "only http and https";
        QTest::newRow("data address") << "data:image/gif;base64,R0lG"
                                      << "only http and https";
        QTest::newRow("nobody listening") << "http://127.0.0.1:1/"
                                          << "Connection refused";
    }
    void failures()
    {
        QFETCH(QString, address);
        QFETCH(QString, reason);
        const QString url = address.startsWith(u'/') ? server.url(address) : address;
        QElapsedTimer clock;
        clock.start();
        try {
            network.openUrl(url);
            QFAIL("fetched");
        } catch (const PlatformError& e) {
            QVERIFY2(e.description().startsWith(QStringLiteral("Cannot fetch \"%1\": ").arg(url)),
                     qPrintable(e.description()));
            QVERIFY2(e.description().contains(reason), qPrintable(e.description()));
        }
        QVERIFY(clock.elapsed() < 3000);

        // No page file, not even a partial one, and none left from before.
        const QString page = dir.filePath(QStringLiteral("map.html"));
        QFile(page).open(QIODevice::WriteOnly);
        QVERIFY_THROWS_EXCEPTION(PlatformError, network.downloadToFile(url, page));
        QVERIFY(QDir(dir.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }
};

QTEST_MAIN(TestQtNetwork)
#include "test_qtnetwork.moc"
