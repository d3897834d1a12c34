#include "HttpServer.h"
#include "RawHttp.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

#include <memory>

#include <sys/socket.h>

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
        limits.lifetimeMs = 5000;
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
            } else if (path == "/big") {
                e->respond(HttpAnswer::text(200, "Big", QByteArray(16 << 20, 'b')));
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
        const QByteArray notAscii = "the request line must be ASCII (percent-encode the rest)\n";
        QTest::newRow("line separator in the target")
            << QByteArray("GET /a\xe2\x80\xa8x HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 400 Bad Request")
            << notAscii << 0;
        QTest::newRow("two Host headers, good one first")
            << QByteArray("GET / HTTP/1.1\r\nHost: h\r\nhost: evil\r\n\r\n")
            << QByteArray("HTTP/1.1 400 Bad Request") << QByteArray("more than one Host header\n") << 0;
        QTest::newRow("body, exactly as long as announced")
            << QByteArray("POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\na=b&cTRAILING")
            << QByteArray("HTTP/1.1 200 Fine thanks") << QByteArray("a=b&c\n") << 1;
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
        resetConnection(socket);
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
        for (const auto& socket : held) {
            resetConnection(*socket);
        }
        QTRY_COMPARE(server->openConnections(), 0);
        QCOMPARE(rawExchange(server->port(), "GET / HTTP/1.1\r\n\r\n").statusLine,
                 QByteArray("HTTP/1.1 200 Fine thanks"));
    }
    void pieces_data()
    {
        QTest::addColumn<QByteArrayList>("pieces"); // written apart, a moment between them
        QTest::addColumn<bool>("halfClose");        // the client then shuts its sending side
        QTest::addColumn<QByteArray>("statusLine");
        const QByteArray longest = "GET /" + QByteArray(100 - 14, 'a') + " HTTP/1.1"; // 100 bytes
        QTest::newRow("longest line, CR and LF apart") << QByteArrayList{longest + "\r", "\nHost: h\r\n\r\n"}
                                                       << false << QByteArray("HTTP/1.1 200 Fine thanks");
        QTest::newRow("one byte longer, CR and LF apart")
            << QByteArrayList{longest + "a\r", "\nHost: h\r\n\r\n"} << false
            << QByteArray("HTTP/1.1 414 URI Too Long");
        QTest::newRow("half-closed, more sent after the request")
            << QByteArrayList{"GET /later HTTP/1.1\r\n\r\n", QByteArray(100'000, 'x')} << true
            << QByteArray("HTTP/1.1 503 Busy; try at 5 \xe2\x80\x94 ok");
    }
    // How the request arrives in pieces, or with the client done sending, changes nothing.
    void pieces()
    {
        QFETCH(QByteArrayList, pieces);
        QFETCH(bool, halfClose);
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, server->port());
        QVERIFY(socket.waitForConnected(2000));
        for (const QByteArray& piece : pieces) {
            socket.write(piece); // the server may have answered and closed already
            if (socket.state() == QAbstractSocket::ConnectedState) {
                socket.waitForBytesWritten(2000);
            }
            QTest::qWait(50);
        }
        if (halfClose) {
            QCOMPARE(::shutdown(int(socket.socketDescriptor()), SHUT_WR), 0);
        }
        QByteArray got;
        QTRY_VERIFY_WITH_TIMEOUT((got += socket.readAll()).contains("\r\n\r\n"), 3000);
        QTEST(got.left(got.indexOf("\r\n")), "statusLine");
        QTRY_COMPARE(server->openConnections(), 0);
    }

    // A client that does not read its answer holds its connection no longer than the bound from
    // accept, and answers waiting to be sent stay within their total; others meanwhile get a
    // quick refusal, and once the bound has passed, their answer.
    void clientsThatDoNotRead()
    {
        HttpServer::Limits limits = server->limits();
        limits.lifetimeMs = 800;
        limits.maxHeldBytes = 20 << 20;
        server->setLimits(limits);
        QTcpSocket stalled;
        stalled.setReadBufferSize(1); // reads almost nothing, like a client that never reads
        stalled.connectToHost(QHostAddress::LocalHost, server->port());
        QVERIFY(stalled.waitForConnected(2000));
        QElapsedTimer clock;
        clock.start();
        stalled.write("GET /big HTTP/1.1\r\n\r\n");
        QTRY_VERIFY(server->heldBytes() > 0);
        QVERIFY(server->heldBytes() <= limits.maxHeldBytes);
        QCOMPARE(rawExchange(server->port(), "GET /big HTTP/1.1\r\n\r\n", 1000).statusLine,
                 QByteArray("HTTP/1.1 503 Service Unavailable: too many answers waiting to be sent"));
        QTRY_COMPARE_WITH_TIMEOUT(server->openConnections(), 0, 3000);
        QVERIFY2(clock.elapsed() >= 700, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(server->heldBytes(), 0);
        QCOMPARE(rawExchange(server->port(), "GET /big HTTP/1.1\r\n\r\n", 15'000).body.size(),
                 qsizetype((16 << 20) + 1));
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
