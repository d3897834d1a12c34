#pragma once

#include "HttpServer.h"

#include <QByteArray>
#include <QCache>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSize>
#include <QString>

class QUrlQuery;

// Stand-ins for the map providers the gateway can use, all on one loopback port, answering in
// the shapes the real ones use:
//
//   GET /search?q=<text>&format=json[&key=K]     a Nominatim-style JSON array of places
//                                                 ({"lat": "..", "lon": "..", ...})
//   GET /geojson?q=<text>[&key=K]                 a GeoJSON FeatureCollection of Point features
//   GET /tiles/<z>/<x>/<y>.png[?key=K]            a 256 x 256 PNG tile
//   GET /tiles512/<z>/<x>/<y>.png[?key=K]         a 512 x 512 PNG tile
//   GET /staticmap?center=<text>&zoom=<z>&size=<W>x<H>[&format=jpg][&key=K]
//                                                 a static map picture (PNG, or JPEG)
//
// Every search is found (at a place made up from its text) except one holding "xyzzy". When a
// key is set, a request without it is refused with badKeyStatus. Misbehaviour comes from a
// fault: set for an endpoint (for a number of requests, or for all), or named in the search text
// as "fault-<name>" (geocoder and static map only). Faults:
//
//   status-<N>        that status (with a body)
//   busy-<S>          429 with Retry-After: S
//   unavailable-<S>   503 with Retry-After: S
//   stall             no answer; the connection is dropped after stallMs
//   slow-<MS>         the normal answer, MS milliseconds late
//   huge              a 9 MiB body, announced by its length
//   endless           a 200 without a length whose body never ends (cut off at 64 MiB)
//   html              an HTML page instead
//   malformed         JSON cut short / a picture cut short
//   redirect-file     302 to file:///etc/passwd
//   redirect-<N>      302 to the same request with redirect-<N-1>; redirect-0 is a good answer
//   redirect-loop     302 to the very same request
//   noise-<K>         a good picture of about K KiB (noise, so that it does not compress)
//   notfound          no place (geocoder)
//
// With listenTls() it also answers https on a second port, every request there with a 302 to
// the same target over plain http (a downgrade the gateway must refuse).
// Besides, the providers the gateway knows by name answer on their own documented paths, with
// their own key parameter and answer shapes (NamedProviders.cpp); a gateway configured with
// server = baseUrl() reaches them here.
class ProviderStandIn : public QObject
{
    Q_OBJECT
public:
    enum class Endpoint
    {
        Geocoder, // both shapes
        Tiles,
        StaticMap
    };

    struct Request
    {
        qint64 atMs = 0; // since the stand-in started
        Endpoint endpoint = Endpoint::Geocoder;
        QByteArray target;
        QByteArray userAgent;
    };

    explicit ProviderStandIn(QObject* parent = nullptr);
    ~ProviderStandIn() override;

    bool listen(quint16 port = 0);
    // The https port, with a certificate and key in PEM files; false when they cannot be used.
    bool listenTls(const QString& certificateFile, const QString& keyFile);
    quint16 tlsPort() const;
    quint16 port() const { return m_server.port(); }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(port()); }

    // URL templates for the gateway's configuration.
    QString nominatimTemplate() const
    {
        return baseUrl() + QStringLiteral("/search?q={search}&format=json&key={key}");
    }
    QString geojsonTemplate() const { return baseUrl() + QStringLiteral("/geojson?q={search}&key={key}"); }
    QString tileTemplate(int tileSize = 256) const;
    QString staticTemplate() const
    {
        return baseUrl() +
               QStringLiteral("/staticmap?center={search}&zoom={zoom}&size={width}x{height}&key={key}");
    }

    void setKey(const QString& key) { m_key = key; }
    // A second key taken as well, as a provider takes each of its customers' keys.
    void setOtherKey(const QString& key) { m_otherKey = key; }
    bool keyTaken(const QString& given) const
    {
        return m_key.isEmpty() || given == m_key || (!m_otherKey.isEmpty() && given == m_otherKey);
    }
    void setBadKeyStatus(int status) { m_badKeyStatus = status; }
    // Sent with every good answer; none when empty.
    void setCacheControl(const QByteArray& value) { m_cacheControl = value; }
    void setStallMs(int ms) { m_stallMs = ms; }
    // The next `count` requests to endpoint (all of them when count < 0) get fault; "" clears.
    void setFault(Endpoint endpoint, const QString& fault, int count = -1);

    // Where the stand-in puts a search (what its geocoder answers).
    static void placeOf(const QString& search, double* latitude, double* longitude);
    // The colour a tile is filled with.
    static QColor tileColour(int z, int x, int y);

    QList<Request> requests() const { return m_requests; }
    int requestCount(Endpoint endpoint) const;
    void clearRequests() { m_requests.clear(); }
    // The most requests that were being answered at once.
    int mostAtOnce() const { return m_mostAtOnce; }

signals:
    void requestReceived(const QByteArray& requestLine);

private:
    void handle(HttpExchange* exchange);
    // The providers the gateway knows by name (NamedProviders.cpp); false for another path.
    bool handleNamed(HttpExchange* exchange, const QByteArray& path, const QUrlQuery& query);
    void answer(HttpExchange* exchange, Endpoint endpoint, const QString& fault, const HttpAnswer& good);
    HttpAnswer geocode(const QString& search, bool geojson, bool notFound) const;
    QByteArray tile(int z, int x, int y, int size);
    QByteArray staticMap(const QString& search, int zoom, QSize size, bool jpeg);
    QByteArray noise(int kibibytes);

    HttpServer m_server;
    class QSslServer* m_tls = nullptr;
    QElapsedTimer m_clock;
    QString m_key;
    QString m_otherKey;
    int m_badKeyStatus = 403;
    QByteArray m_cacheControl = "public, max-age=86400";
    int m_stallMs = 60'000;
    struct Fault
    {
        QString name;
        int count = -1;
    };
    QHash<int, Fault> m_faults;
    QList<Request> m_requests;
    QCache<QString, QByteArray> m_pictures{64 << 20};
    int m_atOnce = 0;
    int m_mostAtOnce = 0;
};
