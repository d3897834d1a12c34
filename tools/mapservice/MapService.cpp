#include "MapService.h"

#include "MapImage.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#include <QtConcurrent/QtConcurrentRun>

#include <functional>
#include <optional>
#include <utility>

namespace {

constexpr qsizetype MaxRequestHeader = 16 * 1024;
constexpr qsizetype MaxLoggedTargets = 10'000;
constexpr qint64 EndlessBuffered = 256 * 1024;
constexpr int DefaultSide = 640;
constexpr int MaxSide = 2048;
constexpr qsizetype MaxDrawingAhead = 8;

QString gifKey(const QString& search, int zoomLevel, QSize size)
{
    return QStringLiteral("%1x%2 %3 %4").arg(size.width()).arg(size.height()).arg(zoomLevel).arg(search);
}

const QStringList& transportFaults()
{
    static const QStringList names{QStringLiteral("stall"),         QStringLiteral("drip"),
                                   QStringLiteral("404"),           QStringLiteral("500"),
                                   QStringLiteral("redirect-loop"), QStringLiteral("redirect-file"),
                                   QStringLiteral("redirect-data"), QStringLiteral("endless")};
    return names;
}
const QStringList& pageFaults()
{
    static const QStringList names{QStringLiteral("quoted"), QStringLiteral("lf"), QStringLiteral("twolines"),
                                   QStringLiteral("file-ref"), QStringLiteral("data-ref")};
    return names;
}
const QStringList& imageFaults()
{
    static const QStringList names{QStringLiteral("truncated"), QStringLiteral("halfgif"),
                                   QStringLiteral("empty"), QStringLiteral("huge"), QStringLiteral("html")};
    return names;
}

struct FaultWord
{
    QString name;
    bool image = false;
    bool known = false;
};

std::optional<FaultWord> findFault(const QString& search)
{
    static const QRegularExpression word(QStringLiteral("fault-(image-)?([a-z0-9-]+)"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = word.match(search);
    if (!m.hasMatch()) {
        return std::nullopt;
    }
    FaultWord fault{m.captured(2).toLower(), m.hasCaptured(1), false};
    fault.known = transportFaults().contains(fault.name) ||
                  (fault.image ? imageFaults() : pageFaults()).contains(fault.name);
    return fault;
}

struct Answer
{
    int status = 200;
    QByteArray reason = "OK";
    QByteArray contentType;
    QByteArray location;
    QByteArray body;
};

Answer plain(int status, const QByteArray& reason, const QByteArray& text)
{
    return Answer{status, reason, "text/plain; charset=UTF-8", {}, text + '\n'};
}

QByteArray head(const Answer& answer, bool withLength)
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' + answer.reason + "\r\n";
    out += "Server: orrowdale-mapservice\r\n";
    if (!answer.contentType.isEmpty()) {
        out += "Content-Type: " + answer.contentType + "\r\n";
    }
    if (!answer.location.isEmpty()) {
        out += "Location: " + answer.location + "\r\n";
    }
    if (withLength) {
        out += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n";
    }
    out += "Connection: close\r\n\r\n";
    return out;
}

// The classic page: short lines, attributes unquoted where the old service left them so.
QByteArray page(const QString& base, const QString& search, const QString& fault, const QByteArray& smallGif)
{
    const QByteArray b = base.toUtf8();
    const QByteArray q = QUrl::toPercentEncoding(search);
    const QByteArray reference = b + "/mapdata?oi=map&q=" + q;
    const QByteArray title = search.toHtmlEscaped().toUtf8();

    QByteArray img;
    if (fault == QLatin1String("quoted")) {
        img = "<img src=\"" + reference + "&w=640&h=640\" style=\"border:0\" alt=\"Map\">";
    } else if (fault == QLatin1String("file-ref")) {
        img = "<img src=file:///etc/passwd style=\"border:0\" alt=\"Map\">";
    } else if (fault == QLatin1String("data-ref")) {
        img = "<img src=data:image/gif;base64," + smallGif.toBase64() + " style=\"border:0\" alt=\"Map\">";
    } else {
        img = "<img src=" + reference + "&w=640&h=640 style=\"border:0\" alt=\"Map\">";
    }

    QList<QByteArray> lines{
        "<html><head><title>" + title + " - Orrowdale Maps</title>",
        "<meta http-equiv=\"content-type\" content=\"text/html; charset=UTF-8\">",
        "</head><body style=\"margin:0\">",
        "<div id=\"header\" style=\"font:13px sans-serif\">Search results for <b>" + title + "</b></div>",
        // A "style=" before the image tag on the same line, as the old pages had.
        "<div id=\"map\" style=\"width:640px\"><a href=\"" + b + "/maps?q=" + q + "\">" + img + "</a></div>",
        // Not a reference: the tag is in capitals.
        "<!-- IMG SRC=" + reference + "&w=100&h=100 style=\"display:none\" -->",
        "<div id=\"footer\">Map data: Orrowdale test service</div>",
    };
    if (fault == QLatin1String("twolines") || fault == QLatin1String("lf")) {
        lines << "<div id=\"inset\"><img src=" + reference +
                     "&w=320&h=240 style=\"border:1px\" alt=\"Inset\"></div>";
    }
    lines << "</body></html>";
    const QByteArray end = fault == QLatin1String("lf") ? "\n" : "\r\n";
    return lines.join(end) + end;
}

QByteArray filler()
{
    static const QByteArray block = QByteArray("<!-- and more, and more -->\r\n").repeated(2048);
    return block;
}

} // namespace

// One client connection: reads one request, answers it (maybe misbehaving), then closes.
class MapServiceConnection : public QObject
{
public:
    MapServiceConnection(MapService* service, QTcpSocket* socket)
        : QObject(service), m_service(service), m_socket(socket)
    {
        m_socket->setParent(this);
        connect(m_socket, &QTcpSocket::readyRead, this, &MapServiceConnection::onReadyRead);
        connect(m_socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
        connect(&m_timer, &QTimer::timeout, this, [this] { m_onTick(); });
        m_onTick = [this] { drop(); };
        m_timer.setSingleShot(true);
        m_timer.start(m_service->limits().requestTimeoutMs);
        onReadyRead();
    }
    ~MapServiceConnection() override { m_socket->disconnect(this); }

private:
    void onReadyRead()
    {
        if (m_handled) {
            m_socket->readAll();
            return;
        }
        m_buffer += m_socket->readAll();
        const qsizetype end = m_buffer.indexOf("\r\n\r\n");
        if (end < 0) {
            if (m_buffer.size() > MaxRequestHeader) {
                m_handled = true;
                send(plain(431, "Request Header Fields Too Large", "request header too large"));
            }
            return;
        }
        m_handled = true;
        m_timer.stop();
        const QByteArray requestLine = m_buffer.left(m_buffer.indexOf("\r\n"));
        const QList<QByteArray> parts = requestLine.split(' ');
        if (parts.size() != 3 || !parts[1].startsWith('/') || !parts[2].startsWith("HTTP/1.")) {
            send(plain(400, "Bad Request", "malformed request line"));
            return;
        }
        m_service->record(requestLine, parts[1]);
        if (parts[0] != "GET") {
            send(plain(405, "Method Not Allowed", "only GET is served"));
            return;
        }
        answer(parts[1]);
    }

    void answer(const QByteArray& target)
    {
        const qsizetype mark = target.indexOf('?');
        const QByteArray path = target.left(mark);
        const QUrlQuery query(mark < 0 ? QString() : QString::fromUtf8(target.mid(mark + 1)));
        const QString search = query.queryItemValue(QStringLiteral("q"), QUrl::FullyDecoded);
        const std::optional<FaultWord> fault = findFault(search);
        if (fault && !fault->known) {
            send(plain(400, "Bad Request", "unknown fault word: " + fault->name.toUtf8()));
            return;
        }
        if (path == "/maps") {
            const QString name = fault && !fault->image ? fault->name : QString();
            if (name.isEmpty()) {
                m_service->prepare(search, QSize(DefaultSide, DefaultSide));
            }
            const QByteArray small =
                name == QLatin1String("data-ref") ? m_service->gif(search, 0, QSize(16, 16)) : QByteArray();
            deliver(Answer{200,
                           "OK",
                           "text/html; charset=UTF-8",
                           {},
                           page(m_service->baseUrl(), search, name, small)},
                    name, target);
        } else if (path == "/mapdata") {
            answerImage(query, search, fault && fault->image ? fault->name : QString(), target);
        } else {
            send(plain(404, "Not Found", "no such page"));
        }
    }

    void answerImage(const QUrlQuery& query, const QString& search, const QString& fault,
                     const QByteArray& target)
    {
        auto number = [&query](const char* key, int fallback, int low, int high) -> std::optional<int> {
            const QString text = query.queryItemValue(QLatin1String(key));
            if (!query.hasQueryItem(QLatin1String(key))) {
                return fallback;
            }
            bool ok = false;
            const int value = text.trimmed().toInt(&ok);
            return ok && value >= low && value <= high ? std::optional<int>(value) : std::nullopt;
        };
        const std::optional<int> w = number("w", DefaultSide, 1, MaxSide);
        const std::optional<int> h = number("h", DefaultSide, 1, MaxSide);
        const std::optional<int> zoom = number("zl", 0, -1000, 1000);
        if (!w || !h || !zoom) {
            send(plain(400, "Bad Request", "w, h and zl must be numbers in range"));
            return;
        }
        m_service->m_lastZoom = *zoom;
        Answer image{200, "OK", "image/gif", {}, {}};
        if (fault == QLatin1String("html")) {
            image.contentType = "text/html; charset=UTF-8";
            image.body = page(m_service->baseUrl(), search, QString(), {});
        } else if (fault == QLatin1String("huge")) {
            image.body = oversizedGif();
        } else if (fault != QLatin1String("empty")) {
            image.body = m_service->gif(search, *zoom, QSize(*w, *h));
            if (image.body.isEmpty()) {
                send(plain(500, "Internal Server Error", "the map could not be drawn"));
                return;
            }
            if (fault == QLatin1String("truncated")) {
                // The connection drops halfway through the declared length.
                m_socket->write(head(image, true) + image.body.left(image.body.size() / 2));
                m_socket->disconnectFromHost();
                return;
            }
            if (fault == QLatin1String("halfgif")) {
                image.body.truncate(image.body.size() / 2);
            }
        }
        deliver(image, fault, target);
    }

    // Sends the answer, or misbehaves with it as the fault word says.
    void deliver(Answer answer, const QString& fault, const QByteArray& target)
    {
        if (fault == QLatin1String("stall")) {
            m_onTick = [this] { drop(); };
            m_timer.setSingleShot(true);
            m_timer.start(m_service->limits().stallMs);
        } else if (fault == QLatin1String("drip")) {
            drip(answer);
        } else if (fault == QLatin1String("endless")) {
            endless(answer);
        } else if (fault == QLatin1String("404")) {
            answer.status = 404;
            answer.reason = "Not Found";
            send(answer);
        } else if (fault == QLatin1String("500")) {
            answer.status = 500;
            answer.reason = "Internal Server Error";
            send(answer);
        } else if (fault.startsWith(QLatin1String("redirect-"))) {
            Answer redirect{302, "Found", "text/plain; charset=UTF-8", {}, {}};
            if (fault == QLatin1String("redirect-loop")) {
                redirect.location = m_service->baseUrl().toUtf8() + target;
            } else if (fault == QLatin1String("redirect-file")) {
                redirect.location = "file:///etc/passwd";
            } else {
                const QByteArray type = answer.contentType.split(';').constFirst();
                redirect.location = "data:" + type + ";base64," + answer.body.toBase64();
            }
            send(redirect);
        } else {
            send(answer);
        }
    }

    void send(const Answer& answer)
    {
        m_socket->write(head(answer, true) + answer.body);
        m_socket->disconnectFromHost();
    }

    void drip(const Answer& answer)
    {
        m_socket->write(head(answer, true));
        m_pending = answer.body;
        m_clock.start();
        m_onTick = [this] {
            if (m_clock.elapsed() >= m_service->limits().dripLimitMs) {
                drop();
            } else if (m_pending.isEmpty()) {
                m_timer.stop();
                m_socket->disconnectFromHost();
            } else {
                m_socket->write(m_pending.left(1));
                m_pending.remove(0, 1);
            }
        };
        m_timer.setSingleShot(false);
        m_timer.start(m_service->limits().dripIntervalMs);
    }

    // No length and no end but the cap: the body is the real one followed by filler.
    void endless(const Answer& answer)
    {
        m_socket->write(head(answer, false));
        m_pending = answer.body;
        m_left = m_service->limits().endlessBytes;
        connect(m_socket, &QTcpSocket::bytesWritten, this, &MapServiceConnection::topUp);
        topUp();
    }

    void topUp()
    {
        while (m_left > 0 && m_socket->bytesToWrite() < EndlessBuffered &&
               m_socket->state() == QAbstractSocket::ConnectedState) {
            QByteArray chunk = m_pending.isEmpty() ? filler() : std::exchange(m_pending, {});
            chunk.truncate(std::min<qint64>(chunk.size(), m_left));
            m_left -= chunk.size();
            m_socket->write(chunk);
        }
        if (m_left <= 0 && !m_closing) {
            m_closing = true;
            m_socket->disconnectFromHost();
        }
    }

    void drop()
    {
        m_timer.stop();
        m_socket->abort();
        deleteLater();
    }

    MapService* m_service;
    QTcpSocket* m_socket;
    QByteArray m_buffer;
    QByteArray m_pending;
    qint64 m_left = 0;
    bool m_handled = false;
    bool m_closing = false;
    QTimer m_timer;
    QElapsedTimer m_clock;
    std::function<void()> m_onTick;
};

MapService::MapService(QObject* parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            new MapServiceConnection(this, socket);
        }
    });
}

MapService::~MapService() = default;

bool MapService::listen(quint16 port)
{
    return m_server.listen(QHostAddress::LocalHost, port);
}

QString MapService::errorString() const
{
    return m_server.errorString();
}

quint16 MapService::port() const
{
    return m_server.serverPort();
}

QString MapService::baseUrl() const
{
    return m_baseOverride.isEmpty() ? QStringLiteral("http://127.0.0.1:%1").arg(port()) : m_baseOverride;
}

void MapService::setBaseUrl(const QString& base)
{
    m_baseOverride = base;
}

QByteArray MapService::gif(const QString& search, int zoomLevel, QSize size)
{
    const QString key =
        QStringLiteral("%1x%2 %3 %4").arg(size.width()).arg(size.height()).arg(zoomLevel).arg(search);
    if (const QByteArray* cached = m_gifCache.object(key)) {
        return *cached;
    }
    QByteArray bytes = encodeGif(drawMap(search, zoomLevel, size));
    if (!bytes.isEmpty()) {
        m_gifCache.insert(key, new QByteArray(bytes), bytes.size());
    }
    return bytes;
}

void MapService::prepare(const QString& search, QSize size)
{
    for (auto it = m_drawing.begin(); it != m_drawing.end();) {
        if (it->isFinished()) {
            m_gifCache.insert(it.key(), new QByteArray(it->result()), it->result().size());
            it = m_drawing.erase(it);
        } else {
            ++it;
        }
    }
    const QString key = gifKey(search, m_lastZoom, size);
    if (m_drawing.size() >= MaxDrawingAhead || m_drawing.contains(key) || m_gifCache.contains(key)) {
        return;
    }
    m_drawing.insert(key, QtConcurrent::run([search, zoom = m_lastZoom, size] {
                         return encodeGif(drawMap(search, zoom, size));
                     }));
}

void MapService::record(const QByteArray& requestLine, const QByteArray& target)
{
    if (m_targets.size() >= MaxLoggedTargets) {
        m_targets.removeFirst();
    }
    m_targets << QString::fromUtf8(target);
    emit requestReceived(requestLine);
}
