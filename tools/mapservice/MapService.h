#pragma once

#include "HttpServer.h"

#include <QByteArray>
#include <QCache>
#include <QFuture>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

// A stand-in for the map service's classic HTML endpoints, for tests and the offline demo.
// It listens on 127.0.0.1 only and answers one request per connection (then closes it):
//
//   GET /maps?...&q=<search>&...     an HTML page of CR LF ended lines; one of them holds
//        <img src=BASE/mapdata?oi=map&q=<search>&w=640&h=640 style="border:0" ...>
//        unquoted, where BASE is baseUrl() and <search> is percent-encoded.
//   GET /mapdata?...&q=<search>&w=<W>&h=<H>&zl=<n>   a W x H GIF drawn for that search and
//        zoom level (zl 0 when missing).
//
// A fault word in the search text makes a request misbehave the way real servers do.
// "fault-<name>" acts on the page request; "fault-image-<name>" leaves the page alone and acts
// on the image request, which the page's image reference carries the search (and the word) to.
//
//   Either request:
//     stall           reads the request and never answers; drops the connection after stallMs
//     drip            answers correctly, one body byte per dripIntervalMs; cut off at dripLimitMs
//     404, 500        that status, with the normal page or GIF as its body (a client that ignores
//                     the status would wrongly succeed)
//     redirect-loop   302 to the very same URL, for ever
//     redirect-file   302 to file:///etc/passwd
//     redirect-data   302 to a data: URL holding a usable page or GIF
//     endless         200 without a length: the normal body, then filler until endlessBytes
//   Page only:
//     quoted          the img src is in quotation marks (no unquoted reference on the page)
//     lf              lines end with LF alone; two img lines, the first 640x640, the second
//                     320x240 (one line to a CR-only scan, so the first wins)
//     twolines        two img lines ended by CR LF: first 640x640, second 320x240 (last wins)
//     file-ref        the img src is file:///etc/passwd
//     data-ref        the img src is a data: URL holding a GIF
//   Image only:
//     truncated       declares the whole GIF's length, sends half of it and closes the connection
//     halfgif         a complete answer (length and all) holding only the first half of the GIF
//     empty           200 with zero bytes
//     huge            a GIF declaring 65535 x 65535 pixels
//     html            the map page (text/html) instead of an image
//
// An unknown fault word, a malformed query or an unknown path gets 400 or 404.
// Drawing the GIFs needs a QGuiApplication.
class MapService : public QObject
{
    Q_OBJECT

public:
    // Every fault ends on its own, so nothing a client does keeps a connection open for ever.
    struct Limits
    {
        int stallMs = 150'000;          // longer than any sane client waits
        int dripIntervalMs = 1'000;     // one body byte per interval ...
        int dripLimitMs = 180'000;      // ... until the body is done or this much time has passed
        qint64 endlessBytes = 64 << 20; // an "endless" body ends here
        int requestTimeoutMs = 10'000;  // a request whose header has not arrived by then is dropped
    };

    explicit MapService(QObject* parent = nullptr);
    ~MapService() override;

    // Listens on 127.0.0.1 at port, or at a port the system chooses when port is 0.
    bool listen(quint16 port = 0);
    QString errorString() const;
    quint16 port() const;

    // The text pages put in front of "/mapdata?": http://127.0.0.1:<port> unless overridden
    // (a client must find the identical text, so a client built with another spelling of the
    // address, such as "localhost", needs the override).
    QString baseUrl() const;
    void setBaseUrl(const QString& base);

    Limits limits() const { return m_limits; }
    void setLimits(const Limits& limits);

    // The request targets received, oldest first (path and query as sent, e.g. "/mapdata?...&zl=4").
    QStringList requestTargets() const { return m_targets; }
    void clearRequestTargets() { m_targets.clear(); }

    // The GIF for a search at a zoom level and size, drawn once and then kept for a while.
    QByteArray gif(const QString& search, int zoomLevel, QSize size);

signals:
    // Each request line as received ("GET /maps?... HTTP/1.1").
    void requestReceived(const QByteArray& requestLine);

private:
    friend class MapServiceConnection;
    void record(const QByteArray& requestLine, const QByteArray& target);
    // Starts drawing, on another thread, the picture a page's reference leads to (at the zoom
    // level last asked for), so it is ready when the client comes for it.
    void prepare(const QString& search, QSize size);

    void applyLimits();

    HttpServer m_server;
    QString m_baseOverride;
    Limits m_limits;
    QStringList m_targets;
    QCache<QString, QByteArray> m_gifCache{32 << 20};
    QHash<QString, QFuture<QByteArray>> m_drawing;
    int m_lastZoom = 0;
};
