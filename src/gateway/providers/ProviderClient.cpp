#include "ProviderClient.h"

#include "HttpTimes.h"

#include <QMetaObject>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

// One fetch: waits in its host's queue, goes out (perhaps more than once after a 429/503) and
// answers its caller once.
class ProviderRequest : public QObject
{
public:
    ProviderRequest(ProviderClient* client, ProviderClient::Kind kind, const QUrl& url,
                    QDeadlineTimer deadline, QObject* owner, ProviderClient::Check check,
                    ProviderClient::Callback done)
        : QObject(client), kind(kind), url(url), deadline(deadline), owner(owner), check(std::move(check)),
          done(std::move(done))
    {
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
    }

    // Calls back (unless the owner is gone) and lets the request go.
    void answer(const ProviderClient::Result& result)
    {
        if (answered) {
            return;
        }
        answered = true;
        timer.stop();
        if (owner && done) {
            std::exchange(done, {})(result);
        }
        if (!reply) {
            deleteLater();
        }
    }

    ProviderClient::Kind kind;
    QUrl url;
    QUrl cacheUrl;
    QString hostKey;
    QDeadlineTimer deadline;
    QPointer<QObject> owner;
    ProviderClient::Check check;
    ProviderClient::Callback done;
    std::optional<ProviderCache::Entry> stale;
    QNetworkReply* reply = nullptr;
    QTimer timer;
    int attempts = 0;
    bool answered = false;
    bool timedOut = false;
    bool tooLarge = false;
    QUrl asked;        // the address of this hop: url, or where it was redirected to
    QList<QUrl> chain; // every address asked so far, each only once
    int redirects = 0;
};

namespace {

QString hostName(const QUrl& url)
{
    return url.port() < 0 ? url.host() : QStringLiteral("%1:%2").arg(url.host()).arg(url.port());
}

bool isWeb(const QUrl& url)
{
    return url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
}

constexpr int MaxRedirects = 5;

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

QString mebibytes(qint64 bytes)
{
    return bytes >= (1 << 20) ? QStringLiteral("%1 MiB").arg(bytes >> 20)
                              : QStringLiteral("%1 KiB").arg(bytes >> 10);
}

} // namespace

ProviderClient::ProviderClient(const Settings& settings, QObject* parent)
    : QObject(parent), m_settings(settings),
      m_cache(std::make_unique<ProviderCache>(settings.cacheDirectory, settings.cacheBytes))
{
    m_settings.requestsPerHost = std::max(1, m_settings.requestsPerHost);
    // Redirects are followed here, one request per hop, each hop checked.
    m_network.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    // A provider behind a certificate authority of its own (a company's, or a test's) is trusted
    // only when named here; the system's authorities stay trusted too.
    if (const QString caFile = qEnvironmentVariable("ORROWDALE_GATEWAY_CA_FILE"); !caFile.isEmpty()) {
        m_tls = QSslConfiguration::defaultConfiguration();
        m_tls->addCaCertificates(caFile);
    }
    m_clock.start();
}

ProviderClient::~ProviderClient()
{
    // Replies belong to the access manager, which goes before our children: detach them first.
    for (QObject* child : children()) {
        auto* request = dynamic_cast<ProviderRequest*>(child);
        if (request && request->reply) {
            QNetworkReply* reply = std::exchange(request->reply, nullptr);
            reply->disconnect();
            reply->abort();
        }
    }
}

QUrl ProviderClient::publicUrl(const QUrl& url) const
{
    QString text = url.toString(QUrl::FullyEncoded);
    for (const QString& key : QStringList{m_settings.key} + m_settings.otherKeys) {
        if (!key.isEmpty()) {
            text.replace(QString::fromLatin1(QUrl::toPercentEncoding(key)), QStringLiteral("KEY"));
            text.replace(key, QStringLiteral("KEY"));
        }
    }
    return QUrl(text);
}

QString ProviderClient::maskKeys(QString text) const
{
    for (const QString& key : m_settings.otherKeys) {
        if (!key.isEmpty()) {
            text.replace(key, QStringLiteral("***"));
        }
    }
    return text;
}

double ProviderClient::rate(Kind kind) const
{
    switch (kind) {
    case Kind::Geocoder:
        return m_settings.geocoderRequestsPerSecond;
    case Kind::Tile:
        return m_settings.tileRequestsPerSecond;
    case Kind::Picture:
        return m_settings.pictureRequestsPerSecond;
    }
    return 0;
}

qint64 ProviderClient::maxBytes(Kind kind) const
{
    return kind == Kind::Geocoder ? m_settings.geocoderMaxBytes : m_settings.imageMaxBytes;
}

Reasons::Who ProviderClient::who(Kind kind) const
{
    return kind == Kind::Geocoder ? Reasons::Who::Geocoder : Reasons::Who::MapProvider;
}

ProviderClient::Host& ProviderClient::host(const QUrl& url)
{
    const QString key = url.scheme() + QStringLiteral("://") + hostName(url);
    auto it = m_hosts.find(key);
    if (it == m_hosts.end()) {
        it = m_hosts.insert(key, Host{});
        it->wake = new QTimer(this);
        it->wake->setSingleShot(true);
        it->wake->setTimerType(Qt::PreciseTimer);
        connect(it->wake, &QTimer::timeout, this, [this, key] { pump(m_hosts[key]); });
    }
    return *it;
}

void ProviderClient::fetch(Kind kind, const QUrl& url, QDeadlineTimer deadline, QObject* owner,
                           const Check& check, Callback done)
{
    auto* request = new ProviderRequest(this, kind, url, deadline, owner, check, std::move(done));
    request->cacheUrl = publicUrl(url);
    if (owner) {
        connect(owner, &QObject::destroyed, request, [request] {
            request->answered = true;
            if (request->reply) {
                request->reply->abort();
            } else {
                request->deleteLater();
            }
        });
    }

    // The cache is read when the request's turn comes, not here: a burst of requests for one big
    // answer then holds one copy of it at a time, not one each.
    QMetaObject::invokeMethod(
        request, [this, request] { begin(request); }, Qt::QueuedConnection);
}

void ProviderClient::begin(ProviderRequest* request)
{
    if (request->answered) {
        return;
    }
    const QUrl url = request->url;
    const QDeadlineTimer deadline = request->deadline;
    if (std::optional<ProviderCache::Entry> entry = m_cache->find(request->cacheUrl)) {
        if (entry->isFresh(QDateTime::currentDateTimeUtc())) {
            request->answer(
                Result{200, {}, std::move(entry->body), entry->contentType, true, entry->expires});
            return;
        }
        request->stale = std::move(entry);
    }

    if (!isWeb(url) || url.host().isEmpty()) {
        fail(request, 502, QStringLiteral("The provider address is not a web address"));
        return;
    }

    connect(&request->timer, &QTimer::timeout, request, [this, request] {
        if (request->reply) {
            request->timedOut = true;
            request->reply->abort();
            return;
        }
        // Still waiting for its turn: say what held it up. The one ahead may have just let go of
        // its place, so what is in flight now tells nothing; what the queue waits for does.
        const QString name = Reasons::who(who(request->kind));
        const Host& h = m_hosts[request->hostKey];
        const qint64 now = m_clock.elapsed();
        if (h.pausedUntil > now) {
            fail(request, 503, QStringLiteral("%1 is busy; try again later").arg(name));
        } else if (rate(request->kind) > 0 && h.notBefore[int(request->kind)] > now) {
            fail(
                request, 504,
                QStringLiteral("%1 is asked too often to answer in time; see the rate limits in gateway.conf")
                    .arg(name));
        } else {
            // The requests ahead of it, which the provider did not finish in time.
            fail(request, 504, QStringLiteral("%1 did not answer in time").arg(name));
        }
    });
    if (!deadline.isForever()) {
        request->timer.start(std::max<qint64>(0, deadline.remainingTime()));
    }

    request->hostKey = url.scheme() + QStringLiteral("://") + hostName(url);
    Host& h = host(url);
    h.queue.push_back(request);
    pump(h);
}

void ProviderClient::pump(Host& h)
{
    while (h.inFlight < m_settings.requestsPerHost && !h.queue.empty()) {
        ProviderRequest* next = h.queue.front();
        if (!next || next->answered) {
            h.queue.pop_front();
            continue;
        }
        const qint64 now = m_clock.elapsed();
        const qint64 at = std::max(h.pausedUntil, h.notBefore[int(next->kind)]);
        if (now < at) {
            h.wake->start(int(at - now));
            return;
        }
        h.queue.pop_front();
        start(h, next);
    }
}

void ProviderClient::start(Host& h, ProviderRequest* request)
{
    const double perSecond = rate(request->kind);
    if (perSecond > 0) {
        // A little over the interval, so that uneven delays on the way never bring two requests
        // to the provider closer together than its limit.
        h.notBefore[int(request->kind)] = m_clock.elapsed() + qint64(std::ceil(1000.0 / perSecond)) + 10;
    }
    ++h.inFlight;
    ++request->attempts;
    request->asked = request->url;
    request->chain = {request->url};
    request->redirects = 0;
    send(request);
}

void ProviderClient::send(ProviderRequest* request)
{
    ++m_networkRequests;
    QNetworkRequest r(request->asked);
    if (m_tls) {
        r.setSslConfiguration(*m_tls);
    }
    r.setHeader(QNetworkRequest::UserAgentHeader, m_settings.userAgent);
    r.setRawHeader("Accept", request->kind == Kind::Geocoder
                                 ? "application/json, application/geo+json;q=0.9, */*;q=0.1"
                                 : "image/png, image/jpeg;q=0.9, image/*;q=0.8");
    r.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    r.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    if (request->stale) {
        if (!request->stale->etag.isEmpty()) {
            r.setRawHeader("If-None-Match", request->stale->etag);
        }
        if (!request->stale->lastModified.isEmpty()) {
            r.setRawHeader("If-Modified-Since", request->stale->lastModified);
        }
    }

    QNetworkReply* reply = m_network.get(r);
    request->reply = reply;
    const qint64 cap = maxBytes(request->kind);
    connect(reply, &QNetworkReply::downloadProgress, request, [request, cap](qint64 received, qint64 total) {
        if ((received > cap || total > cap) && request->reply && !request->tooLarge) {
            request->tooLarge = true;
            request->reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, request] { finished(request); });
}

std::optional<QString> ProviderClient::follow(ProviderRequest* request, QNetworkReply* reply)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (request->answered || request->timedOut || request->tooLarge || !isRedirect(status)) {
        return std::nullopt;
    }
    const QString name = Reasons::who(who(request->kind));
    const QUrl to = request->asked.resolved(QUrl::fromEncoded(reply->rawHeader("Location")));
    const bool downgrade =
        request->asked.scheme() == QLatin1String("https") && to.scheme() == QLatin1String("http");
    if (reply->rawHeader("Location").isEmpty() || !to.isValid() || !isWeb(to) || to.host().isEmpty() ||
        downgrade) {
        return QStringLiteral("%1 redirected to an address that is not safe to follow").arg(name);
    }
    if (request->redirects >= MaxRedirects || request->chain.contains(to)) {
        return QStringLiteral("%1 redirected too many times").arg(name);
    }
    ++request->redirects;
    request->asked = to;
    request->chain.append(to);
    send(request); // keeps the place it has among its host's requests
    return QString();
}

void ProviderClient::finished(ProviderRequest* request)
{
    QNetworkReply* reply = std::exchange(request->reply, nullptr);
    reply->deleteLater();
    const std::optional<QString> redirect = follow(request, reply);
    if (redirect && redirect->isEmpty()) {
        return;
    }
    Host& h = m_hosts[request->hostKey];
    --h.inFlight;
    // Give the next one its turn once this call is done.
    QMetaObject::invokeMethod(
        this, [this, key = request->hostKey] { pump(m_hosts[key]); }, Qt::QueuedConnection);

    if (request->answered) {
        request->deleteLater();
        return;
    }
    const QString name = Reasons::who(who(request->kind));
    const QString where = hostName(request->url);
    if (request->timedOut) {
        fail(request, 504, QStringLiteral("%1 did not answer in time").arg(name));
        return;
    }
    if (request->tooLarge) {
        fail(request, 502,
             QStringLiteral("%1 sent more than %2").arg(name, mebibytes(maxBytes(request->kind))));
        return;
    }
    if (redirect) {
        fail(request, 502, *redirect);
        return;
    }

    const QVariant statusValue = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!statusValue.isValid()) {
        QString what;
        switch (reply->error()) {
        case QNetworkReply::ConnectionRefusedError:
            what = QStringLiteral("%1 cannot be reached at %2 (connection refused)").arg(name, where);
            break;
        case QNetworkReply::HostNotFoundError:
            what = QStringLiteral("%1 cannot be reached: host %2 not found").arg(name, where);
            break;
        case QNetworkReply::SslHandshakeFailedError:
            what = QStringLiteral("%1 at %2 failed the secure connection check").arg(name, where);
            break;
        case QNetworkReply::RemoteHostClosedError:
        case QNetworkReply::OperationCanceledError:
            what = QStringLiteral("%1 closed the connection before answering").arg(name);
            break;
        case QNetworkReply::TimeoutError:
            fail(request, 504, QStringLiteral("%1 did not answer in time").arg(name));
            return;
        default:
            // Qt's own error text may hold the whole address, key and all: only the number goes out.
            what = QStringLiteral("%1 cannot be reached at %2 (network error %3)")
                       .arg(name, where)
                       .arg(int(reply->error()));
            break;
        }
        fail(request, 502, what);
        return;
    }

    const int status = statusValue.toInt();
    if (status == 429 || status == 503) {
        const std::optional<std::chrono::milliseconds> wait =
            HttpTimes::retryAfter(reply->rawHeader("Retry-After"), QDateTime::currentDateTimeUtc());
        if (wait && request->attempts < m_settings.maxAttempts &&
            wait->count() + 10 < request->deadline.remainingTime()) {
            // The whole host asked us to hold back, not just this request.
            h.pausedUntil = std::max(h.pausedUntil, m_clock.elapsed() + wait->count() + 10);
            h.queue.push_front(request);
            return;
        }
        fail(request, 503, QStringLiteral("%1 is busy; try again later").arg(name));
        return;
    }
    if (status == 401 || status == 403) {
        fail(request, 502, QStringLiteral("%1 refused the key (HTTP %2)").arg(name).arg(status));
        return;
    }
    if (status == 304 && request->stale) {
        ProviderCache::Entry entry = *std::exchange(request->stale, std::nullopt);
        const auto fresh = HttpTimes::freshFor(reply->rawHeader("Cache-Control"), reply->rawHeader("Expires"),
                                               reply->rawHeader("Date"), reply->rawHeader("Age"),
                                               m_settings.defaultLifetime);
        entry.expires = QDateTime::currentDateTimeUtc().addSecs(fresh ? fresh->count() : 0);
        if (fresh) {
            m_cache->store(request->cacheUrl, entry);
        }
        succeed(request, Result{200, {}, entry.body, entry.contentType, true, entry.expires});
        return;
    }
    if (status >= 300 && status < 400) {
        fail(request, 502,
             QStringLiteral("%1 answered HTTP %2, a redirect the gateway does not follow")
                 .arg(name)
                 .arg(status));
        return;
    }
    if (status >= 500) {
        fail(request, 502, QStringLiteral("%1 failed (HTTP %2); try again later").arg(name).arg(status));
        return;
    }
    if (status != 200) {
        fail(request, 502,
             QStringLiteral("%1 answered HTTP %2; check its address in gateway.conf").arg(name).arg(status));
        return;
    }

    QByteArray body = reply->readAll();
    if (body.size() > maxBytes(request->kind)) {
        fail(request, 502,
             QStringLiteral("%1 sent more than %2").arg(name, mebibytes(maxBytes(request->kind))));
        return;
    }
    const QByteArray type = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    if (request->check) {
        const QString problem = request->check(body, type);
        if (!problem.isEmpty()) {
            m_cache->remove(request->cacheUrl);
            fail(request, 502, problem);
            return;
        }
    }
    const auto fresh =
        HttpTimes::freshFor(reply->rawHeader("Cache-Control"), reply->rawHeader("Expires"),
                            reply->rawHeader("Date"), reply->rawHeader("Age"), m_settings.defaultLifetime);
    ProviderCache::Entry entry{body, type,
                               QDateTime::currentDateTimeUtc().addSecs(fresh ? fresh->count() : 0),
                               reply->rawHeader("ETag"), reply->rawHeader("Last-Modified")};
    if (fresh) {
        m_cache->store(request->cacheUrl, entry);
    } else {
        m_cache->remove(request->cacheUrl);
    }
    succeed(request, Result{200, {}, std::move(body), type, false, entry.expires});
}

void ProviderClient::fail(ProviderRequest* request, int status, const QString& reason)
{
    request->answer(Result{status, Reasons::toPhrase(maskKeys(reason), m_settings.key), {}, {}, false, {}});
}

void ProviderClient::succeed(ProviderRequest* request, Result result)
{
    request->answer(result);
}
