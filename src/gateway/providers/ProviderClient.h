#pragma once

#include "ProviderCache.h"
#include "Reasons.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

class ProviderRequest;

// Every request the gateway sends to a provider goes through here: the disk cache first, then
// the network with our User-Agent, at most requestsPerHost requests in flight per host, a
// minimum gap between requests of one kind to one host, Retry-After honoured when it fits the
// deadline, size caps, http(s)-only redirects and a deadline. Failures come back as an HTTP
// status and a reason phrase for the program's report; neither ever holds the key.
class ProviderClient : public QObject
{
    Q_OBJECT
public:
    enum class Kind
    {
        Geocoder,
        Tile,
        Picture
    };

    struct Settings
    {
        QString cacheDirectory;
        qint64 cacheBytes = 256LL * 1024 * 1024;
        QByteArray userAgent;
        QString key; // masked out of cache addresses and reasons
        // Other keys the addresses may hold (another provider's geocoder), masked the same way.
        QStringList otherKeys;
        int requestsPerHost = 1;
        double geocoderRequestsPerSecond = 1.0; // 0: no gap
        double tileRequestsPerSecond = 0;
        double pictureRequestsPerSecond = 0;
        qint64 geocoderMaxBytes = 1 << 20;
        qint64 imageMaxBytes = 8 << 20;
        std::chrono::seconds defaultLifetime{24 * 3600}; // for answers that say nothing about it
        int maxAttempts = 3;                             // including retries after 429/503
    };

    struct Result
    {
        int status = 200;  // 200, or the status the gateway should answer with
        QByteArray reason; // for a failure: the phrase for the program's report
        QByteArray body;
        QByteArray contentType;
        bool fromCache = false;
        QDateTime expires; // when this answer stops being fresh

        bool ok() const { return status == 200; }
    };

    // Looks at a provider's 200 answer before it is used or cached: empty when it is fine,
    // otherwise the reason the request fails with (status 502).
    using Check = std::function<QString(const QByteArray& body, const QByteArray& contentType)>;
    using Callback = std::function<void(const Result&)>;

    explicit ProviderClient(const Settings& settings, QObject* parent = nullptr);
    ~ProviderClient() override;

    // Fetches url; done is called exactly once, later (never from inside fetch), unless owner
    // is destroyed first, which also abandons the request.
    void fetch(Kind kind, const QUrl& url, QDeadlineTimer deadline, QObject* owner, const Check& check,
               Callback done);

    // How many requests went out to providers (not answered from the cache).
    int networkRequests() const { return m_networkRequests; }
    const Settings& settings() const { return m_settings; }
    // The disk cache, for what a source makes of provider answers (kept no longer than they).
    ProviderCache& cache() { return *m_cache; }
    // url with the key masked out: how it is kept in the cache and may be logged.
    QUrl publicUrl(const QUrl& url) const;
    // text with every key but the main one (which toPhrase masks) taken out.
    QString maskKeys(QString text) const;

private:
    friend class ProviderRequest;
    struct Host
    {
        int inFlight = 0;
        std::deque<QPointer<ProviderRequest>> queue;
        qint64 notBefore[3] = {0, 0, 0}; // per kind, on m_clock
        qint64 pausedUntil = 0;          // Retry-After, for every kind
        QTimer* wake = nullptr;
    };

    void begin(ProviderRequest* request);
    Host& host(const QUrl& url);
    void pump(Host& host);
    void start(Host& host, ProviderRequest* request);
    void send(ProviderRequest* request);
    // For a redirect: nothing when the answer is no redirect, an empty text when the next hop
    // has gone out, else why the request fails.
    std::optional<QString> follow(ProviderRequest* request, class QNetworkReply* reply);
    void finished(ProviderRequest* request);
    void fail(ProviderRequest* request, int status, const QString& reason);
    void succeed(ProviderRequest* request, Result result);
    double rate(Kind kind) const;
    qint64 maxBytes(Kind kind) const;
    Reasons::Who who(Kind kind) const;

    Settings m_settings;
    // The system's certificate authorities, plus any in ORROWDALE_GATEWAY_CA_FILE.
    std::optional<QSslConfiguration> m_tls;
    QNetworkAccessManager m_network;
    std::unique_ptr<ProviderCache> m_cache;
    QHash<QString, Host> m_hosts;
    QElapsedTimer m_clock;
    int m_networkRequests = 0;
};
