#include "HttpServer.h"

#include <QSocketNotifier>
#include <QTcpSocket>

#include <algorithm>
#include <cerrno>

#include <sys/socket.h>

namespace {

// Token characters of a header name: anything else (a blank before the colon, a control
// character) is a request we refuse rather than guess at.
bool isToken(const QByteArray& name)
{
    if (name.isEmpty()) {
        return false;
    }
    for (const char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
        if (!ok) {
            return false;
        }
    }
    return true;
}

// What is handed to the socket at a time: a client that does not read holds no more than this
// (and what the system buffers) besides its answer.
constexpr qsizetype SliceBytes = 256 * 1024;
constexpr qsizetype ShortBytes = 4 * 1024;

bool isAscii(QByteArrayView text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool hasControl(QByteArrayView text)
{
    for (const char c : text) {
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f) {
            return true;
        }
    }
    return false;
}

} // namespace

QByteArray HttpRequest::path() const
{
    const qsizetype mark = target.indexOf('?');
    return mark < 0 ? target : target.left(mark);
}

QByteArray HttpRequest::query() const
{
    const qsizetype mark = target.indexOf('?');
    return mark < 0 ? QByteArray() : target.mid(mark + 1);
}

QByteArray HttpRequest::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) {
            return value;
        }
    }
    return {};
}

bool HttpRequest::hasHeader(const QByteArray& name) const
{
    for (const auto& header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

HttpAnswer HttpAnswer::text(int status, const QByteArray& reason, const QByteArray& text)
{
    HttpAnswer answer;
    answer.status = status;
    answer.reason = reason;
    answer.contentType = "text/plain; charset=UTF-8";
    answer.body = text + '\n';
    return answer;
}

HttpExchange::HttpExchange(HttpServer* server, QTcpSocket* socket)
    : QObject(server), m_server(server), m_socket(socket)
{
    m_socket->setParent(this);
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpExchange::onReadyRead);
    connect(m_socket, &QTcpSocket::bytesWritten, this, [this](qint64 bytes) {
        feed();
        emit bytesWritten(bytes);
    });
    connect(m_socket, &QTcpSocket::disconnected, this, &HttpExchange::end);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this] {
        if (m_socket->state() != QAbstractSocket::ConnectedState) {
            end();
        }
    });
    m_headerTimer.setSingleShot(true);
    connect(&m_headerTimer, &QTimer::timeout, this, &HttpExchange::abort);
    m_headerTimer.start(m_server->limits().headerTimeoutMs);
    // However the client behaves (never reading its answer, say), its connection ends in time.
    m_lifeTimer.setSingleShot(true);
    connect(&m_lifeTimer, &QTimer::timeout, this, &HttpExchange::abort);
    m_lifeTimer.start(m_server->limits().lifetimeMs);
}

HttpExchange::~HttpExchange()
{
    delete m_peerWatch;
    m_socket->disconnect(this);
}

QHostAddress HttpExchange::peerAddress() const
{
    return m_socket->peerAddress();
}

bool HttpExchange::isConnected() const
{
    return !m_ended && m_socket->state() == QAbstractSocket::ConnectedState;
}

qint64 HttpExchange::bytesToWrite() const
{
    return m_socket->bytesToWrite() + (m_unsent.size() - m_unsentAt);
}

void HttpExchange::onReadyRead()
{
    if (m_received) {
        if (m_bodyLeft > 0) {
            takeBody(m_socket->readAll());
            return;
        }
        // Nothing after a refused request is read, but it is drained so the client is not held
        // up (and closing sends no reset). After a good request the socket is no longer read.
        if (!m_readingStopped) {
            m_socket->readAll();
        }
        return;
    }
    m_buffer += m_socket->readAll();
    parse();
}

void HttpExchange::parse()
{
    const HttpServer::Limits limits = m_server->limits();
    const qsizetype lineEnd = m_buffer.indexOf("\r\n");
    // A line of the longest length allowed may have its CR here and its LF still on the way.
    const qsizetype unended = m_buffer.endsWith('\r') ? m_buffer.size() - 1 : m_buffer.size();
    if ((lineEnd < 0 && unended > limits.maxRequestLine) || lineEnd > limits.maxRequestLine) {
        reject(414, "URI Too Long", "request line too long");
        return;
    }
    const qsizetype end = m_buffer.indexOf("\r\n\r\n");
    if ((end < 0 && m_buffer.size() > limits.maxHeaderBytes) || end + 4 > limits.maxHeaderBytes) {
        reject(431, "Request Header Fields Too Large", "request header too large");
        return;
    }
    if (end < 0) {
        return;
    }
    m_received = true;

    QList<QByteArray> lines = m_buffer.left(end).split('\n');
    const QByteArray afterHead = m_buffer.mid(end + 4);
    m_buffer.clear();
    // Every line but the last (whose CR LF ended the header) must end in CR LF.
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        if (!lines[i].endsWith('\r')) {
            reject(400, "Bad Request", "lines must end in CR LF");
            return;
        }
        lines[i].chop(1);
    }
    HttpRequest& r = m_request;
    r.requestLine = lines.constFirst();
    const QList<QByteArray> parts = r.requestLine.split(' ');
    if (parts.size() != 3 || parts[0].isEmpty() || !parts[1].startsWith('/') ||
        !parts[2].startsWith("HTTP/1.") || hasControl(r.requestLine)) {
        reject(400, "Bad Request", "malformed request line");
        return;
    }
    // Escapes are how a target carries other characters; raw bytes would reach logs as they are.
    if (!isAscii(r.requestLine)) {
        reject(400, "Bad Request", "the request line must be ASCII (percent-encode the rest)");
        return;
    }
    r.method = parts[0];
    r.target = parts[1];
    r.version = parts[2];
    if (lines.size() - 1 > limits.maxHeaderCount) {
        reject(431, "Request Header Fields Too Large", "too many header fields");
        return;
    }
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        const qsizetype colon = line.indexOf(':');
        const QByteArray name = line.left(colon);
        if (colon <= 0 || !isToken(name) || hasControl(line)) {
            reject(400, "Bad Request", "malformed header field");
            return;
        }
        if (name.compare("Host", Qt::CaseInsensitive) == 0 && r.hasHeader("Host")) {
            reject(400, "Bad Request", "more than one Host header");
            return;
        }
        r.headers.append({name, line.mid(colon + 1).trimmed()});
    }
    startBody(afterHead);
}

// Reads the body, if the server takes bodies, before the handler sees the request. A body that
// cannot be framed, or is too large, is refused here rather than left for the handler to guess at.
void HttpExchange::startBody(const QByteArray& received)
{
    const qsizetype cap = m_server->limits().maxBodyBytes;
    if (cap <= 0 || !(m_request.hasHeader("Content-Length") || m_request.hasHeader("Transfer-Encoding"))) {
        dispatch();
        return;
    }
    if (m_request.hasHeader("Transfer-Encoding")) {
        reject(411, "Length Required", "a request body needs a Content-Length");
        return;
    }
    const QByteArray text = m_request.header("Content-Length");
    bool ok = !text.isEmpty() && text.size() <= 12;
    for (const char c : text) {
        ok = ok && c >= '0' && c <= '9';
    }
    const qsizetype length = ok ? text.toLongLong() : -1;
    if (length < 0) {
        reject(400, "Bad Request", "malformed Content-Length");
        return;
    }
    if (length > cap) {
        reject(413, "Content Too Large", "request body too large");
        return;
    }
    m_bodyLeft = length;
    takeBody(received);
}

void HttpExchange::takeBody(const QByteArray& bytes)
{
    const QByteArray part = bytes.left(m_bodyLeft);
    m_request.body += part;
    m_bodyLeft -= part.size();
    if (m_bodyLeft == 0) {
        dispatch();
    }
}

void HttpExchange::dispatch()
{
    m_headerTimer.stop();
    stopReading();
    emit m_server->requestReceived(m_request);
    if (m_server->m_handler) {
        m_server->m_handler(this);
    } else {
        respond(HttpAnswer::text(404, "Not Found", "nothing is served here"));
    }
}

void HttpExchange::reject(int status, const QByteArray& reason, const QByteArray& text)
{
    m_received = true;
    m_headerTimer.stop();
    m_buffer.clear();
    respond(HttpAnswer::text(status, reason, text));
}

HttpAnswer HttpExchange::respond(const HttpAnswer& answer)
{
    if (m_answered || m_ended) {
        HttpAnswer none;
        none.status = 0;
        none.reason = "not sent";
        return none;
    }
    HttpAnswer out = answer;
    const HttpServer::Limits limits = m_server->limits();
    // Short texts (refusals, reasons) always go out; they are what the cap leaves room for.
    if (answer.body.size() > ShortBytes && m_server->m_held + answer.body.size() > limits.maxHeldBytes) {
        // Others have not taken their answers yet; memory stays bounded, and this client may
        // try again.
        out = HttpAnswer::text(503, "Service Unavailable: too many answers waiting to be sent",
                               "too many answers waiting to be sent; try again later");
    }
    writeHead(out, true);
    write(out.body);
    close();
    return out;
}

void HttpExchange::writeHead(const HttpAnswer& answer, bool withLength)
{
    if (m_answered || m_ended) {
        return;
    }
    m_answered = true;
    // A reason phrase is one line of text: anything that would end the line is left out.
    QByteArray reason = answer.reason;
    reason.replace('\r', ' ').replace('\n', ' ');
    QByteArray out = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' + reason + "\r\n";
    if (!m_server->serverName().isEmpty()) {
        out += "Server: " + m_server->serverName() + "\r\n";
    }
    if (!answer.contentType.isEmpty()) {
        out += "Content-Type: " + answer.contentType + "\r\n";
    }
    for (const auto& [name, value] : answer.headers) {
        out += name + ": " + value + "\r\n";
    }
    if (withLength) {
        out += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n";
    }
    out += "Connection: close\r\n\r\n";
    write(out);
}

void HttpExchange::write(const QByteArray& bytes)
{
    if (m_ended || bytes.isEmpty()) {
        return;
    }
    if (m_unsentAt == m_unsent.size()) {
        m_unsent = bytes; // shared, not copied
        m_unsentAt = 0;
    } else {
        m_unsent += bytes;
    }
    // Counted whole until all of it has gone to the socket: that is when its memory is let go.
    m_server->m_held += m_unsent.size() - m_held;
    m_held = m_unsent.size();
    feed();
}

void HttpExchange::feed()
{
    while (!m_ended && m_unsentAt < m_unsent.size() && m_socket->bytesToWrite() < SliceBytes) {
        const qsizetype n = std::min(SliceBytes, m_unsent.size() - m_unsentAt);
        if (m_socket->write(m_unsent.constData() + m_unsentAt, n) != n) {
            break;
        }
        m_unsentAt += n;
    }
    if (m_unsentAt < m_unsent.size()) {
        return;
    }
    m_unsent.clear();
    m_unsentAt = 0;
    m_server->m_held -= m_held;
    m_held = 0;
    if (m_closing && !m_ended) {
        delete std::exchange(m_peerWatch, nullptr);
        m_socket->disconnectFromHost();
        if (m_socket->state() == QAbstractSocket::UnconnectedState) {
            end();
        }
    }
}

void HttpExchange::close()
{
    if (m_ended || m_closing) {
        return;
    }
    m_closing = true;
    feed();
}

void HttpExchange::abort()
{
    if (m_ended) {
        return;
    }
    delete std::exchange(m_peerWatch, nullptr);
    m_socket->abort();
    end();
}

// Once the request is in, the socket is not read any more: Qt takes the client's end of sending
// (a half-close) for the end of the connection, and the answer would be lost. A watch of our own
// tells a half-close, which still wants its answer, from a reset, which does not.
void HttpExchange::stopReading()
{
    m_readingStopped = true;
    m_socket->setReadBufferSize(1);
    m_socket->ungetChar('\0'); // a full buffer: the socket stops reading for good
    const qintptr descriptor = m_socket->socketDescriptor();
    if (descriptor < 0) {
        return;
    }
    m_peerWatch = new QSocketNotifier(descriptor, QSocketNotifier::Read);
    connect(m_peerWatch, &QSocketNotifier::activated, this, &HttpExchange::watchPeer);
}

void HttpExchange::watchPeer()
{
    const int descriptor = static_cast<int>(m_socket->socketDescriptor());
    char scrap[4096];
    const ssize_t got = ::recv(descriptor, scrap, sizeof scrap, MSG_DONTWAIT);
    if (got > 0) {
        return; // more than the request: dropped, so that closing later sends no reset
    }
    if (got == 0) {
        m_peerWatch->setEnabled(false); // the client is done sending; it may still read
        return;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        abort(); // reset: nobody is there to answer
    }
}

void HttpExchange::end()
{
    if (m_ended) {
        return;
    }
    m_ended = true;
    m_headerTimer.stop();
    m_lifeTimer.stop();
    delete std::exchange(m_peerWatch, nullptr);
    if (m_held > 0) {
        m_server->m_held -= m_held;
        m_held = 0;
    }
    m_unsent.clear();
    emit finished();
    deleteLater();
    m_server->exchangeEnded();
}

HttpServer::HttpServer(QObject* parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            ++m_open;
            emit connectionsChanged();
            auto* exchange = new HttpExchange(this, socket);
            if (m_open > m_limits.maxConnections) {
                exchange->reject(503, "Service Unavailable: too many connections", "too many connections");
            }
        }
    });
}

HttpServer::~HttpServer()
{
    // Exchanges are children: they go with the server, without calling back into it.
    for (HttpExchange* exchange : findChildren<HttpExchange*>(Qt::FindDirectChildrenOnly)) {
        exchange->m_ended = true;
    }
}

bool HttpServer::listen(const QHostAddress& address, quint16 port)
{
    return m_server.listen(address, port);
}

bool HttpServer::adoptListeningSocket(qintptr descriptor)
{
    return m_server.setSocketDescriptor(descriptor);
}

QString HttpServer::errorString() const
{
    return m_server.errorString();
}

QHostAddress HttpServer::address() const
{
    return m_server.serverAddress();
}

quint16 HttpServer::port() const
{
    return m_server.serverPort();
}

void HttpServer::exchangeEnded()
{
    --m_open;
    emit connectionsChanged();
}
