#include "MapService.h"

#include "MapImage.h"

#include <QElapsedTimer>
#include <QRegularExpression>
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

HttpAnswer plain(int status, const QByteArray& reason, const QByteArray& text)
{
    return HttpAnswer::text(status, reason, text);
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

// One request's answer, which may misbehave on purpose. It lives as long as the exchange does.
class MapServiceConnection : public QObject
{
public:
    MapServiceConnection(MapService* service, HttpExchange* exchange)
        : QObject(exchange), m_service(service), m_exchange(exchange)
    {
        connect(&m_timer, &QTimer::timeout, this, [this] { m_onTick(); });
        m_service->record(exchange->request().requestLine, exchange->request().target);
        if (exchange->request().method != "GET") {
            send(plain(405, "Method Not Allowed", "only GET is served"));
            return;
        }
        answer(exchange->request().target);
    }

private:
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
            HttpAnswer page_;
            page_.contentType = "text/html; charset=UTF-8";
            page_.body = page(m_service->baseUrl(), search, name, small);
            deliver(page_, name, target);
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
        HttpAnswer image;
        image.contentType = "image/gif";
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
                m_exchange->writeHead(image, true);
                m_exchange->write(image.body.left(image.body.size() / 2));
                m_exchange->close();
                return;
            }
            if (fault == QLatin1String("halfgif")) {
                image.body.truncate(image.body.size() / 2);
            }
        }
        deliver(image, fault, target);
    }

    // Sends the answer, or misbehaves with it as the fault word says.
    void deliver(HttpAnswer answer, const QString& fault, const QByteArray& target)
    {
        if (fault == QLatin1String("stall")) {
            m_onTick = [this] { m_exchange->abort(); };
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
            HttpAnswer redirect;
            redirect.status = 302;
            redirect.reason = "Found";
            redirect.contentType = "text/plain; charset=UTF-8";
            QByteArray location;
            if (fault == QLatin1String("redirect-loop")) {
                location = m_service->baseUrl().toUtf8() + target;
            } else if (fault == QLatin1String("redirect-file")) {
                location = "file:///etc/passwd";
            } else {
                const QByteArray type = answer.contentType.split(';').constFirst();
                location = "data:" + type + ";base64," + answer.body.toBase64();
            }
            redirect.headers.append({"Location", location});
            send(redirect);
        } else {
            send(answer);
        }
    }

    void send(const HttpAnswer& answer) { m_exchange->respond(answer); }

    void drip(const HttpAnswer& answer)
    {
        m_exchange->writeHead(answer, true);
        m_pending = answer.body;
        m_clock.start();
        m_onTick = [this] {
            if (m_clock.elapsed() >= m_service->limits().dripLimitMs) {
                m_timer.stop();
                m_exchange->abort();
            } else if (m_pending.isEmpty()) {
                m_timer.stop();
                m_exchange->close();
            } else {
                m_exchange->write(m_pending.left(1));
                m_pending.remove(0, 1);
            }
        };
        m_timer.setSingleShot(false);
        m_timer.start(m_service->limits().dripIntervalMs);
    }

    // No length and no end but the cap: the body is the real one followed by filler.
    void endless(const HttpAnswer& answer)
    {
        m_exchange->writeHead(answer, false);
        m_pending = answer.body;
        m_left = m_service->limits().endlessBytes;
        connect(m_exchange, &HttpExchange::bytesWritten, this, &MapServiceConnection::topUp);
        topUp();
    }

    void topUp()
    {
        while (m_left > 0 && m_exchange->bytesToWrite() < EndlessBuffered && m_exchange->isConnected()) {
            QByteArray chunk = m_pending.isEmpty() ? filler() : std::exchange(m_pending, {});
            chunk.truncate(std::min<qint64>(chunk.size(), m_left));
            m_left -= chunk.size();
            m_exchange->write(chunk);
        }
        if (m_left <= 0 && !m_closing) {
            m_closing = true;
            m_exchange->close();
        }
    }

    MapService* m_service;
    HttpExchange* m_exchange;
    QByteArray m_pending;
    qint64 m_left = 0;
    bool m_closing = false;
    QTimer m_timer;
    QElapsedTimer m_clock;
    std::function<void()> m_onTick;
};

MapService::MapService(QObject* parent) : QObject(parent)
{
    m_server.setServerName("orrowdale-mapservice");
    applyLimits();
    m_server.setHandler([this](HttpExchange* exchange) { new MapServiceConnection(this, exchange); });
}

void MapService::setLimits(const Limits& limits)
{
    m_limits = limits;
    applyLimits();
}

void MapService::applyLimits()
{
    HttpServer::Limits http = m_server.limits();
    http.maxRequestLine = MaxRequestHeader;
    http.maxHeaderBytes = MaxRequestHeader;
    http.headerTimeoutMs = m_limits.requestTimeoutMs;
    m_server.setLimits(http);
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
    return m_server.port();
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
