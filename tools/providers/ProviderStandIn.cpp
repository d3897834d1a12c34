#include "ProviderStandIn.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QPointer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTimer>
#include <QUrlQuery>

#include <cmath>
#include <cstring>

namespace {

constexpr qint64 HugeBytes = 9 << 20;
constexpr qint64 EndlessBytes = 64 << 20;

QString faultWord(const QString& search)
{
    static const QRegularExpression word(QStringLiteral("fault-([a-z0-9-]+)"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = word.match(search);
    return m.hasMatch() ? m.captured(1).toLower() : QString();
}

int faultNumber(const QString& fault, const QString& prefix)
{
    return fault.startsWith(prefix) ? fault.mid(prefix.size()).toInt() : -1;
}

QByteArray encode(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, format == QByteArrayView("jpg") ? 85 : 89);
    return bytes;
}

HttpAnswer picture(const QByteArray& bytes, const QByteArray& type)
{
    HttpAnswer a;
    a.contentType = type;
    a.body = bytes;
    return a;
}

} // namespace

ProviderStandIn::ProviderStandIn(QObject* parent) : QObject(parent)
{
    m_clock.start();
    m_server.setServerName("orrowdale-providers");
    // Its own faults outlast the bounds the server ships with (a stall, an endless body).
    HttpServer::Limits limits = m_server.limits();
    limits.lifetimeMs = 10 * 60'000;
    limits.maxHeldBytes = 1LL << 30;
    m_server.setLimits(limits);
    m_server.setHandler([this](HttpExchange* exchange) { handle(exchange); });
}

ProviderStandIn::~ProviderStandIn() = default;

bool ProviderStandIn::listen(quint16 port)
{
    return m_server.listen(QHostAddress::LocalHost, port);
}

QString ProviderStandIn::tileTemplate(int tileSize) const
{
    return baseUrl() + (tileSize >= 512 ? QStringLiteral("/tiles512") : QStringLiteral("/tiles")) +
           QStringLiteral("/{z}/{x}/{y}.png?key={key}");
}

void ProviderStandIn::setFault(Endpoint endpoint, const QString& fault, int count)
{
    if (fault.isEmpty()) {
        m_faults.remove(int(endpoint));
    } else {
        m_faults.insert(int(endpoint), Fault{fault, count});
    }
}

int ProviderStandIn::requestCount(Endpoint endpoint) const
{
    return int(std::count_if(m_requests.begin(), m_requests.end(),
                             [endpoint](const Request& r) { return r.endpoint == endpoint; }));
}

void ProviderStandIn::placeOf(const QString& search, double* latitude, double* longitude)
{
    const QByteArray h =
        QCryptographicHash::hash(search.trimmed().toLower().toUtf8(), QCryptographicHash::Sha1);
    quint32 a = 0;
    quint32 b = 0;
    std::memcpy(&a, h.constData(), 4);
    std::memcpy(&b, h.constData() + 4, 4);
    *latitude = -60 + 130.0 * (a / 4294967295.0);
    *longitude = -180 + 360.0 * (b / 4294967295.0);
}

bool ProviderStandIn::listenTls(const QString& certificateFile, const QString& keyFile)
{
    QFile certificate(certificateFile);
    QFile key(keyFile);
    if (!certificate.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly)) {
        return false;
    }
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(QSslCertificate(certificate.readAll()));
    tls.setPrivateKey(QSslKey(key.readAll(), QSsl::Rsa));
    if (tls.localCertificate().isNull() || tls.privateKey().isNull()) {
        return false;
    }
    delete m_tls;
    m_tls = new QSslServer(this);
    m_tls->setSslConfiguration(tls);
    connect(m_tls, &QSslServer::pendingConnectionAvailable, this, [this] {
        while (auto* socket = qobject_cast<QSslSocket*>(m_tls->nextPendingConnection())) {
            connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QSslSocket::readyRead, socket, [this, socket] {
                const QByteArray head = socket->peek(16 * 1024);
                if (!head.contains("\r\n\r\n")) {
                    return;
                }
                const QByteArray line = head.left(head.indexOf("\r\n"));
                emit requestReceived("https " + line);
                const QByteArray target = line.split(' ').value(1);
                socket->write("HTTP/1.1 302 Found\r\nLocation: " + baseUrl().toLatin1() + target +
                              "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                socket->disconnectFromHost();
            });
        }
    });
    return m_tls->listen(QHostAddress::LocalHost, 0);
}

quint16 ProviderStandIn::tlsPort() const
{
    return m_tls ? m_tls->serverPort() : 0;
}

QColor ProviderStandIn::tileColour(int z, int x, int y)
{
    return QColor::fromHsv(int((x * 47u + y * 101u + z * 13u) % 360u), 90, 230);
}

void ProviderStandIn::handle(HttpExchange* exchange)
{
    const HttpRequest& request = exchange->request();
    emit requestReceived(request.requestLine);
    const qsizetype mark = request.target.indexOf('?');
    const QByteArray path = mark < 0 ? request.target : request.target.left(mark);
    const QUrlQuery query(QString::fromUtf8(request.query()));

    if (handleNamed(exchange, path, query)) {
        return;
    }
    Endpoint endpoint;
    if (path == "/search" || path == "/geojson") {
        endpoint = Endpoint::Geocoder;
    } else if (path.startsWith("/tiles/") || path.startsWith("/tiles512/")) {
        endpoint = Endpoint::Tiles;
    } else if (path == "/staticmap") {
        endpoint = Endpoint::StaticMap;
    } else {
        exchange->respond(HttpAnswer::text(404, "Not Found", "no such endpoint"));
        return;
    }
    m_requests.append(Request{m_clock.elapsed(), endpoint, request.target, request.header("User-Agent")});
    m_mostAtOnce = std::max(m_mostAtOnce, ++m_atOnce);
    connect(exchange, &HttpExchange::finished, this, [this] { --m_atOnce; });

    const QString given = query.queryItemValue(QStringLiteral("key"), QUrl::FullyDecoded);
    if (!keyTaken(given)) {
        // Like some real providers, the refusal repeats what it was given.
        const QByteArray echo = given.toUtf8();
        exchange->respond(HttpAnswer::text(
            m_badKeyStatus, m_badKeyStatus == 401 ? "Unauthorized " + echo : "Forbidden " + echo,
            "The key " + echo + " is not valid."));
        return;
    }

    QString fault;
    auto it = m_faults.find(int(endpoint));
    if (it != m_faults.end()) {
        fault = it->name;
        if (it->count > 0 && --it->count == 0) {
            m_faults.erase(it);
        }
    }
    const QString search = query.queryItemValue(
        endpoint == Endpoint::StaticMap ? QStringLiteral("center") : QStringLiteral("q"), QUrl::FullyDecoded);
    if (fault.isEmpty()) {
        fault = faultWord(search);
    }

    HttpAnswer good;
    if (endpoint == Endpoint::Geocoder) {
        good = geocode(search, path == "/geojson", fault == QLatin1String("notfound"));
    } else if (endpoint == Endpoint::Tiles) {
        const QList<QByteArray> parts = path.split('/'); // "", "tiles", z, x, "y.png"
        bool okZ = false, okX = false, okY = false;
        const int z = parts.value(2).toInt(&okZ);
        const int x = parts.value(3).toInt(&okX);
        const int y = parts.value(4).split('.').value(0).toInt(&okY);
        if (parts.size() != 5 || !okZ || !okX || !okY || z < 0 || z > 22 || x < 0 || y < 0 || x >= (1 << z) ||
            y >= (1 << z)) {
            exchange->respond(HttpAnswer::text(404, "Not Found", "no such tile"));
            return;
        }
        good = picture(tile(z, x, y, path.startsWith("/tiles512/") ? 512 : 256), "image/png");
    } else {
        const QStringList size = query.queryItemValue(QStringLiteral("size")).split(u'x');
        const int w = size.value(0).toInt();
        const int h = size.value(1).toInt();
        if (w < 1 || h < 1 || w > 2048 || h > 2048) {
            exchange->respond(HttpAnswer::text(400, "Bad Request", "size must be WxH"));
            return;
        }
        const bool jpeg = query.queryItemValue(QStringLiteral("format")) == QLatin1String("jpg");
        good = picture(
            staticMap(search, query.queryItemValue(QStringLiteral("zoom")).toInt(), QSize(w, h), jpeg),
            jpeg ? "image/jpeg" : "image/png");
    }
    if (!m_cacheControl.isEmpty()) {
        good.headers.append({"Cache-Control", m_cacheControl});
    }
    answer(exchange, endpoint, fault, good);
}

void ProviderStandIn::answer(HttpExchange* exchange, Endpoint endpoint, const QString& fault,
                             const HttpAnswer& good)
{
    if (fault.isEmpty() || fault == QLatin1String("notfound")) {
        exchange->respond(good);
    } else if (const int status = faultNumber(fault, QStringLiteral("status-")); status >= 100) {
        exchange->respond(
            HttpAnswer::text(status, "Provider Trouble", "the provider says " + QByteArray::number(status)));
    } else if (const int s = faultNumber(fault, QStringLiteral("busy-")); s >= 0) {
        HttpAnswer a = HttpAnswer::text(429, "Too Many Requests", "slow down");
        a.headers.append({"Retry-After", QByteArray::number(s)});
        exchange->respond(a);
    } else if (const int s = faultNumber(fault, QStringLiteral("unavailable-")); s >= 0) {
        HttpAnswer a = HttpAnswer::text(503, "Service Unavailable", "come back later");
        a.headers.append({"Retry-After", QByteArray::number(s)});
        exchange->respond(a);
    } else if (fault == QLatin1String("stall")) {
        QTimer::singleShot(m_stallMs, exchange, [exchange] { exchange->abort(); });
    } else if (const int ms = faultNumber(fault, QStringLiteral("slow-")); ms >= 0) {
        QPointer<HttpExchange> later(exchange);
        QTimer::singleShot(ms, this, [later, good] {
            if (later) {
                later->respond(good);
            }
        });
    } else if (fault == QLatin1String("huge")) {
        HttpAnswer a = good;
        a.body = good.body + QByteArray(HugeBytes - good.body.size(), '\0');
        exchange->respond(a);
    } else if (fault == QLatin1String("endless")) {
        exchange->writeHead(good, false);
        auto sent = std::make_shared<qint64>(0);
        auto topUp = [exchange, sent] {
            static const QByteArray block(256 * 1024, 'x');
            while (*sent < EndlessBytes && exchange->isConnected() &&
                   exchange->bytesToWrite() < 1024 * 1024) {
                exchange->write(block);
                *sent += block.size();
            }
            if (*sent >= EndlessBytes) {
                exchange->close();
            }
        };
        connect(exchange, &HttpExchange::bytesWritten, exchange, topUp);
        topUp();
    } else if (fault == QLatin1String("html")) {
        HttpAnswer a;
        a.contentType = "text/html; charset=UTF-8";
        a.body = "<!DOCTYPE html>\r\n<html><body><h1>Please sign in</h1></body></html>\r\n";
        exchange->respond(a);
    } else if (fault == QLatin1String("malformed")) {
        HttpAnswer a = good;
        a.body.truncate(good.body.size() / 2);
        exchange->respond(a);
    } else if (fault == QLatin1String("redirect-file")) {
        HttpAnswer a = HttpAnswer::text(302, "Found", "moved");
        a.headers.append({QByteArray("Location"), QByteArray("file:///etc/passwd")});
        exchange->respond(a);
    } else if (fault == QLatin1String("redirect-loop")) {
        HttpAnswer a = HttpAnswer::text(302, "Found", "moved");
        a.headers.append({QByteArray("Location"), exchange->request().target});
        exchange->respond(a);
    } else if (const int hops = faultNumber(fault, QStringLiteral("redirect-")); hops > 0) {
        HttpAnswer a = HttpAnswer::text(302, "Found", "moved");
        QByteArray next = exchange->request().target;
        next.replace("redirect-" + QByteArray::number(hops), "redirect-" + QByteArray::number(hops - 1));
        a.headers.append({QByteArray("Location"), next});
        exchange->respond(a);
    } else if (fault == QLatin1String("redirect-0")) {
        exchange->respond(good);
    } else if (const int kib = faultNumber(fault, QStringLiteral("noise-")); kib > 0 && kib <= 64 * 1024) {
        HttpAnswer a = good;
        a.contentType = "image/png";
        a.body = noise(kib);
        exchange->respond(a);
    } else {
        Q_UNUSED(endpoint);
        exchange->respond(HttpAnswer::text(400, "Bad Request", "unknown fault " + fault.toUtf8()));
    }
}

QByteArray ProviderStandIn::noise(int kibibytes)
{
    const QString key = QStringLiteral("noise %1").arg(kibibytes);
    if (const QByteArray* kept = m_pictures.object(key)) {
        return *kept;
    }
    // Three bytes a pixel that do not compress: the PNG comes out just over the pixels' size.
    const int side = int(std::sqrt(double(kibibytes) * 1024 / 3.0));
    QImage image(side, side, QImage::Format_RGB888);
    for (int y = 0; y < side; ++y) {
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(image.scanLine(y)),
                                              image.bytesPerLine() / 4);
    }
    const QByteArray png = encode(image, "png");
    m_pictures.insert(key, new QByteArray(png), int(png.size()));
    return png;
}

HttpAnswer ProviderStandIn::geocode(const QString& search, bool geojson, bool notFound) const
{
    const bool found = !notFound && !search.contains(QLatin1String("xyzzy"), Qt::CaseInsensitive);
    double lat = 0;
    double lon = 0;
    placeOf(search, &lat, &lon);
    const QString name = search.trimmed() + QStringLiteral(", Stand-in County");
    QJsonDocument doc;
    if (geojson) {
        QJsonArray features;
        if (found) {
            features.append(
                QJsonObject{{QStringLiteral("type"), QStringLiteral("Feature")},
                            {QStringLiteral("geometry"),
                             QJsonObject{{QStringLiteral("type"), QStringLiteral("Point")},
                                         {QStringLiteral("coordinates"), QJsonArray{lon, lat}}}},
                            {QStringLiteral("properties"), QJsonObject{{QStringLiteral("label"), name}}}});
        }
        doc.setObject(QJsonObject{{QStringLiteral("type"), QStringLiteral("FeatureCollection")},
                                  {QStringLiteral("features"), features}});
    } else {
        QJsonArray places;
        if (found) {
            places.append(QJsonObject{{QStringLiteral("place_id"), 1},
                                      {QStringLiteral("lat"), QString::number(lat, 'f', 7)},
                                      {QStringLiteral("lon"), QString::number(lon, 'f', 7)},
                                      {QStringLiteral("display_name"), name}});
        }
        doc.setArray(places);
    }
    HttpAnswer a;
    a.contentType = geojson ? "application/geo+json" : "application/json; charset=utf-8";
    a.body = doc.toJson(QJsonDocument::Compact);
    return a;
}

QByteArray ProviderStandIn::tile(int z, int x, int y, int size)
{
    const QString key = QStringLiteral("t%1/%2/%3/%4").arg(size).arg(z).arg(x).arg(y);
    if (const QByteArray* cached = m_pictures.object(key)) {
        return *cached;
    }
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(tileColour(z, x, y));
    QPainter p(&image);
    p.setPen(QColor(120, 120, 120));
    p.drawRect(0, 0, size - 1, size - 1);
    p.setPen(Qt::black);
    p.drawText(image.rect(), Qt::AlignCenter, QStringLiteral("%1/%2/%3").arg(z).arg(x).arg(y));
    p.end();
    const QByteArray bytes = encode(image, "png");
    m_pictures.insert(key, new QByteArray(bytes), int(bytes.size()));
    return bytes;
}

QByteArray ProviderStandIn::staticMap(const QString& search, int zoom, QSize size, bool jpeg)
{
    const QString key = QStringLiteral("s%1x%2 %3 %4 %5")
                            .arg(size.width())
                            .arg(size.height())
                            .arg(zoom)
                            .arg(jpeg)
                            .arg(search);
    if (const QByteArray* cached = m_pictures.object(key)) {
        return *cached;
    }
    double lat = 0;
    double lon = 0;
    placeOf(search, &lat, &lon);
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor::fromHsv(int(std::abs(lon)) % 360, 60, 235));
    QPainter p(&image);
    p.setPen(Qt::black);
    p.drawText(
        image.rect(), Qt::AlignCenter,
        QStringLiteral("%1\nzoom %2\n%3, %4").arg(search).arg(zoom).arg(lat, 0, 'f', 4).arg(lon, 0, 'f', 4));
    p.end();
    const QByteArray bytes = encode(image, jpeg ? "jpg" : "png");
    m_pictures.insert(key, new QByteArray(bytes), int(bytes.size()));
    return bytes;
}
