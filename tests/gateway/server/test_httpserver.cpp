#include "HttpServer.h"
#include "RawHttp.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

#include <memory>

// The shared HTTP server as a client on the wire sees it: answers with any reason phrase, now
// or later; the caps and malformed requests; one request per connection.
class TestHttpServer : public QObject
{
    Q_OBJECT

    std::unique_ptr<HttpServer> server;
    QList<HttpRequest> seen;

private slots:
    void init()
    {
        seen.clear();
        server = std::make_unique<HttpServer>();
        HttpServer::Limits limits;
        limits.maxRequestLine = 100;
        limits.maxHeaderBytes = 400;
        limits.maxHeaderCount = 5;
        limits.headerTimeoutMs = 300;
        limits.maxBodyBytes = 20;
        server->setLimits(limits);
        server->setServerName("test");
        server->setHandler([this](HttpExchange* e) {
            seen << e->request();
            const QByteArray path = e->request().path();
            if (path == "/later") {
                // Answered from the event loop, long after the handler returned.
                QTimer::singleShot(200, e, [e] {
                    e->respond(HttpAnswer::text(503, "Busy; try at 5 \xe2\x80\x94 ok", "later"));
                });
            } else if (path == "/never") {
                // Never answered: only the client leaving ends it.
            } else {
                HttpAnswer a =
                    HttpAnswer::text(200, "Fine thanks", e->request().header("x-echo") + e->request().body);
                a.headers.append({QByteArray("X-Extra"), QByteArray("1")});
                e->respond(a);
                e->respond(HttpAnswer::text(500, "Second", "must not be sent"));
            }
        });
        QVERIFY2(server->listen(), qPrintable(server->errorString()));
    }
    void cleanup() { server.reset(); }

    void answers_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("statusLine");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("handled");
        const QByteArray longTarget = "GET /" + QByteArray(120, 'a') + " HTTP/1.1\r\n\r\n";
        QByteArray manyHeaders = "GET / HTTP/1.1\r\n";
        for (int i = 0; i < 6; ++i) {
            manyHeaders += "X-" + QByteArray::number(i) + ": 1\r\n";
        }
        QTest::newRow("plain, header any case")
            << QByteArray("GET /a?b=c HTTP/1.1\r\nHost: h\r\nX-ECHO:  hi \r\n\r\n")
            << QByteArray("HTTP/1.1 200 Fine thanks") << QByteArray("hi\n") << 1;
        QTest::newRow("reason later, one line, Latin-1 untouched")
            << QByteArray("GET /later HTTP/1.1\r\n\r\n")
            << QByteArray("HTTP/1.1 503 Busy; try at 5 \xe2\x80\x94 ok") << QByteArray("later\n") << 1;
        QTest::newRow("request line over the cap") << longTarget << QByteArray("HTTP/1.1 414 URI Too Long")
                                                   << QByteArray("request line too long\n") << 0;
        QTest::newRow("request line over the cap, not yet ended")
            << QByteArray("GET /" + QByteArray(200, 'a')) << QByteArray("HTTP/1.1 414 URI Too Long")
            << QByteArray("request line too long\n") << 0;
        QTest::newRow("headers over the cap")
            << QByteArray("GET / HTTP/1.1\r\nX-Big: " + QByteArray(500, 'b') + "\r\n\r\n")
            << QByteArray("HTTP/1.1 431 Request Header Fields Too Large")
            << QByteArray("request header too large\n") << 0;
        QTest::newRow("too many headers") << manyHeaders + "\r\n"
                                          << QByteArray("HTTP/1.1 431 Request Header Fields Too Large")
                                          << QByteArray("too many header fields\n") << 0;
        QTest::newRow("no target") << QByteArray("GET HTTP/1.1\r\n\r\n")
                                   << QByteArray("HTTP/1.1 400 Bad Request")
                                   << QByteArray("malformed request line\n") << 0;
        QTest::newRow("not HTTP") << QByteArray("GET / SPDY/3\r\n\r\n")
                                  << QByteArray("HTTP/1.1 400 Bad Request")
                                  << QByteArray("malformed request line\n") << 0;
        QTest::newRow("bare LF inside")
            << QByteArray("GET / HTTP/1.1\nHost: h\r\n\r\n") << QByteArray("HTTP/1.1 400 Bad Request")
            << QByteArray("lines must end in CR LF\n") << 0;
        QTest::newRow("blank before colon")
            << QByteArray("GET / HTTP/1.1\r\nHost : h\r\n\r\n") << QByteArray("HTTP/1.1 400 Bad Request")
            << QByteArray("malformed header field\n") << 0;
        QTest::newRow("control character")
            << QByteArray("GET /\x01 HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 400 Bad Request")
            << QByteArray("malformed request line\n") << 0;
        QTest::newRow("body, exactly as long as announced")
            << QByteArray("POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\na=b&cTRAILING")
            << QByteArray("HTTP/1.1 200 Fine thanks") << QByteArray("a=b&c\n") << 1;
        QTest::newRow("empty body") << QByteArray("POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n")
                                    << QByteArray("HTTP/1.1 200 Fine thanks") << QByteArray("\n") << 1;
        QTest::newRow("body over the cap")
            << QByteArray("POST / HTTP/1.1\r\nContent-Length: 21\r\n\r\n" + QByteArray(21, 'x'))
            << QByteArray("HTTP/1.1 413 Content Too Large") << QByteArray("request body too large\n") << 0;
        QTest::newRow("chunked body")
            << QByteArray("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n1\r\na\r\n0\r\n\r\n")
            << QByteArray("HTTP/1.1 411 Length Required")
            << QByteArray("a request body needs a Content-Length\n") << 0;
        QTest::newRow("length not a number")
            << QByteArray("POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n")
            << QByteArray("HTTP/1.1 400 Bad Request") << QByteArray("malformed Content-Length\n") << 0;
    }
    void answers()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, statusLine);
        QFETCH(QByteArray, body);
        QFETCH(int, handled);
        const RawAnswer got = rawExchange(server->port(), request);
        QVERIFY(got.closed);
        QCOMPARE(got.statusLine, statusLine);
        QCOMPARE(got.body, body);
        QVERIFY(got.head.contains("\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n"));
        QVERIFY(got.head.contains("\r\nServer: test\r\n"));
        QVERIFY(got.head.contains("\r\nConnection: close"));
        QCOMPARE(seen.size(), handled);
        if (handled == 1 && statusLine.contains("200")) {
            QVERIFY(got.head.contains("\r\nX-Extra: 1\r\n"));
        }
        QTRY_COMPARE(server->openConnections(), 0);
    }

    // A request that never completes is dropped at the deadline, answered or not.
    void slowRequestDropped()
    {
        for (const QByteArray& request : {QByteArray("GET / HTTP/1.1\r\nHost: h\r\n"),
                                          QByteArray("POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\nshort")}) {
            const RawAnswer got = rawExchange(server->port(), request, 3000);
            QVERIFY(got.closed);
            QVERIFY2(got.ms >= 250 && got.ms < 2000, qPrintable(QString::number(got.ms)));
            QVERIFY(got.statusLine.isEmpty());
            QCOMPARE(seen.size(), 0);
        }
    }

    // An exchange left unanswered ends when its client leaves, and a pointer to it learns so.
    void clientLeaves()
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, server->port());
        QVERIFY(socket.waitForConnected(2000));
        socket.write("GET /never HTTP/1.1\r\n\r\n");
        QTRY_COMPARE(seen.size(), 1);
        QCOMPARE(server->openConnections(), 1);
        socket.abort();
        QTRY_COMPARE(server->openConnections(), 0);
    }
    // Connections beyond the cap are turned away at once; the ones within wait their turn.
    void connectionCap()
    {
        HttpServer::Limits limits = server->limits();
        limits.maxConnections = 2;
        server->setLimits(limits);
        std::vector<std::unique_ptr<QTcpSocket>> held;
        for (int i = 0; i < 2; ++i) {
            held.push_back(std::make_unique<QTcpSocket>());
            held.back()->connectToHost(QHostAddress::LocalHost, server->port());
            QVERIFY(held.back()->waitForConnected(2000));
            held.back()->write("GET /never HTTP/1.1\r\n\r\n");
        }
        QTRY_COMPARE(seen.size(), 2);
        const RawAnswer turnedAway = rawExchange(server->port(), "GET / HTTP/1.1\r\n\r\n");
        QCOMPARE(turnedAway.statusLine, QByteArray("HTTP/1.1 503 Service Unavailable: too many connections"));
        QVERIFY(turnedAway.closed);
        held.clear();
        QTRY_COMPARE(server->openConnections(), 0);
        QCOMPARE(rawExchange(server->port(), "GET / HTTP/1.1\r\n\r\n").statusLine,
                 QByteArray("HTTP/1.1 200 Fine thanks"));
    }
    void reasonCannotBreakTheLine()
    {
        server->setHandler(
            [](HttpExchange* e) { e->respond(HttpAnswer::text(502, "a\r\nX-Injected: 1", "x")); });
        const RawAnswer got = rawExchange(server->port(), "GET / HTTP/1.1\r\n\r\n");
        QCOMPARE(got.statusLine, QByteArray("HTTP/1.1 502 a  X-Injected: 1"));
        QVERIFY(!got.head.contains("\r\nX-Injected"));
    }
};

QTEST_MAIN(TestHttpServer)
#include "test_httpserver.moc"
