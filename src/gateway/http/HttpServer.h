#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>

#include <functional>
#include <utility>

class QTcpSocket;

// A small HTTP/1.1 server for loopback use: one request per connection, answered whenever the
// handler is ready (at once or later), then the connection is closed. It caps what a client may
// send before the handler sees anything, how long a connection may live and how much it may
// hold back unsent, and leaves methods, paths and bodies to the handler.

using HttpHeaders = QList<std::pair<QByteArray, QByteArray>>;

struct HttpRequest
{
    QByteArray requestLine; // "GET /maps?q=x HTTP/1.1"
    QByteArray method;
    QByteArray target; // path and query as sent
    QByteArray version;
    HttpHeaders headers; // in the order received, names as sent
    QByteArray body;     // read only where the server takes bodies (Limits::maxBodyBytes)

    QByteArray path() const;
    QByteArray query() const; // after the '?', empty when none
    // The first header of that name (any case), trimmed; empty when missing.
    QByteArray header(const QByteArray& name) const;
    bool hasHeader(const QByteArray& name) const;
};

struct HttpAnswer
{
    int status = 200;
    QByteArray reason = "OK";
    QByteArray contentType;
    HttpHeaders headers; // any more, e.g. Location
    QByteArray body;

    // A short plain-text answer; the text gets a final newline.
    static HttpAnswer text(int status, const QByteArray& reason, const QByteArray& text);
};

// One connection and its request. The server owns it and deletes it (later) once the connection
// is closed; hold it in a QPointer to answer later.
class HttpExchange : public QObject
{
    Q_OBJECT
public:
    const HttpRequest& request() const { return m_request; }
    QHostAddress peerAddress() const;

    // The whole answer with its length, then the connection closes. Only the first call counts.
    // A big answer that would take the answers still waiting to be sent past maxHeldBytes is
    // replaced by a 503. Returns what was sent (nothing when answered already).
    HttpAnswer respond(const HttpAnswer& answer);

    // For answers that arrive in pieces (or misbehave on purpose): the status line and headers,
    // with Content-Length only when withLength; then write() the body and close() or abort().
    void writeHead(const HttpAnswer& answer, bool withLength);
    void write(const QByteArray& bytes);
    void close(); // after what is written has gone out
    void abort(); // at once, dropping what has not gone out

    bool isAnswered() const { return m_answered; }
    bool isConnected() const;
    qint64 bytesToWrite() const;

signals:
    void bytesWritten(qint64 bytes);
    // The connection is gone (closed after the answer, reset by the client, or cut at a bound;
    // a client that only ends its sending is still answered); the exchange is deleted soon after.
    void finished();

private:
    friend class HttpServer;
    HttpExchange(class HttpServer* server, QTcpSocket* socket);
    ~HttpExchange() override;
    void onReadyRead();
    void parse();
    void reject(int status, const QByteArray& reason, const QByteArray& text);
    void stopReading();
    void watchPeer();
    void feed();
    void startBody(const QByteArray& received);
    void takeBody(const QByteArray& bytes);
    void dispatch();
    void end();

    HttpServer* m_server;
    QTcpSocket* m_socket;
    QByteArray m_buffer;
    HttpRequest m_request;
    QTimer m_headerTimer;
    QTimer m_lifeTimer;
    // What is still to be sent, handed to the socket a slice at a time so that a client that
    // does not read holds at most a slice in the socket, besides the answer itself.
    QByteArray m_unsent;
    qsizetype m_unsentAt = 0;
    qint64 m_held = 0; // bytes of answers this exchange counts against the server's total
    class QSocketNotifier* m_peerWatch = nullptr;
    bool m_received = false;
    bool m_readingStopped = false;
    qsizetype m_bodyLeft = 0; // bytes of the body still to come
    bool m_answered = false;
    bool m_closing = false;
    bool m_ended = false;
};

class HttpServer : public QObject
{
    Q_OBJECT
public:
    struct Limits
    {
        qsizetype maxRequestLine = 8 * 1024;  // longer: 414
        qsizetype maxHeaderBytes = 16 * 1024; // request line and headers together; more: 431
        int maxHeaderCount = 64;              // more: 431
        int headerTimeoutMs = 10'000;         // a request not complete by then is dropped
        int maxConnections = 256;             // more open at once: 503 at once
        // From accept to the last byte sent: the gateway's 20 s answer bound and 10 s to deliver.
        // A connection still open then is aborted, whatever it was doing.
        int lifetimeMs = 30'000;
        qint64 maxHeldBytes = 32LL << 20; // answers not yet sent, all connections together
        // A request body up to this many bytes, announced by Content-Length (more: 413; chunked:
        // 411), is read within headerTimeoutMs before the handler is called. 0: bodies are not read.
        qsizetype maxBodyBytes = 0;
    };

    // Called once per well-formed request, on the server's thread. The handler answers through
    // the exchange, now or later; an exchange nobody answers stays open until the client resets
    // it or its lifetime ends.
    using Handler = std::function<void(HttpExchange*)>;

    explicit HttpServer(QObject* parent = nullptr);
    ~HttpServer() override;

    // Listens at address and port (0: one the system chooses).
    bool listen(const QHostAddress& address = QHostAddress::LocalHost, quint16 port = 0);
    // Takes over a socket that is already bound and listening (e.g. handed over at start).
    bool adoptListeningSocket(qintptr descriptor);
    QString errorString() const;
    QHostAddress address() const;
    quint16 port() const;

    void setHandler(Handler handler) { m_handler = std::move(handler); }
    Limits limits() const { return m_limits; }
    void setLimits(const Limits& limits) { m_limits = limits; }
    // The Server header of every answer; none when empty.
    void setServerName(const QByteArray& name) { m_serverName = name; }
    QByteArray serverName() const { return m_serverName; }

    // Connections open now, answered or not.
    int openConnections() const { return m_open; }
    // Bytes of answers accepted but not yet handed to the system, all connections together.
    qint64 heldBytes() const { return m_held; }

signals:
    // A well-formed request has arrived; emitted before the handler is called.
    void requestReceived(const HttpRequest& request);
    // A connection has opened or closed; see openConnections().
    void connectionsChanged();

private:
    friend class HttpExchange;
    void exchangeEnded();

    QTcpServer m_server;
    Handler m_handler;
    Limits m_limits;
    QByteArray m_serverName;
    int m_open = 0;
    qint64 m_held = 0;
};
