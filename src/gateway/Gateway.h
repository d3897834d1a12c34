#pragma once

#include "GatewayConfig.h"
#include "HttpServer.h"
#include "MapSource.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

// The map gateway: answers the classic page and image requests of the program on loopback,
// drawing each picture from the source its configuration file chooses.
//
//   GET /maps?...&q=SEARCH...             a page whose image reference leads to /mapdata
//   GET /mapdata?...&q=SEARCH...&t=T&zl=N the picture of SEARCH at web-map zoom 17 - N
//   GET /, POST /settings                 the settings page, for a person (SettingsPage.h)
//
// T is a secret of this gateway process, handed out only in the page: a web page elsewhere can
// make the browser fetch /mapdata, but not read /maps, so it cannot spend the provider's key.
// Failures get a 4xx/5xx status whose reason phrase says what to do. The configuration file is
// read again whenever its text has changed, checked at each request.
class Gateway : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        QString configPath;           // read at each request; the demo source when missing
        QString baseUrl;              // put in front of "/mapdata?" on pages; empty: http://127.0.0.1:PORT
        int answerTimeoutMs = 20'000; // every image request is answered within this
        int deliveryMs = 10'000;      // then this long to deliver it before the connection is cut
        int idleExitMs = 0;           // > 0: idle() after this long with no request open
    };
    // Makes the source for a provider configuration (static or tiles); null when it cannot.
    using SourceFactory = std::function<std::unique_ptr<MapSource>(const GatewayConfig&)>;
    using Logger = std::function<void(const QString& line)>;

    explicit Gateway(const Options& options, QObject* parent = nullptr);
    ~Gateway() override;

    bool listen(quint16 port);
    bool adoptListeningSocket(qintptr descriptor);
    QString errorString() const { return m_server.errorString(); }
    quint16 port() const { return m_server.port(); }
    QString baseUrl() const;
    // The settings page, where a person chooses the map provider.
    QString pageUrl() const { return baseUrl() + QLatin1Char('/'); }

    // The default builds createProviderSource()'s sources.
    void setSourceFactory(SourceFactory factory) { m_factory = std::move(factory); }
    // Where log lines go (one line each, no newline); nowhere by default.
    void setLogger(Logger logger) { m_logger = std::move(logger); }
    HttpServer& server() { return m_server; }

    // The secret the page puts in the picture's address (t=...); /mapdata wants it back.
    QByteArray pageToken() const { return m_token; }

    // Why a request that a browser made for another site is refused; empty when it was not.
    // Browsers say so in Sec-Fetch-Site, and in a Referer from elsewhere. sameOrigin: also
    // allow a request by a page this gateway served itself.
    QByteArray crossSiteRefusal(const HttpRequest& request, bool sameOrigin) const;
    // The host:port names this gateway answers to (127.0.0.1, localhost, and --base's host).
    QStringList ownAuthorities() const;

    // The web-map zoom for the classic zoom level zl: zl 0 is street level (17); clamped to 0..19.
    static int webZoom(int zl);
    // Compared in full whatever the first difference, so that timing tells nothing about a token.
    static bool sameSecret(const QByteArray& given, const QByteArray& secret);

    // Reads the configuration file again if its text has changed since it was last read, and
    // sets up the source it chooses. Done at each request; at start it logs the choice early.
    void checkConfiguration();

signals:
    // No request has been open for idleExitMs.
    void idle();

private:
    friend class SettingsPage; // shows and tries what the gateway reads, answers as it does

    struct Pending
    {
        QPointer<HttpExchange> exchange;
        std::shared_ptr<MapSource> source; // kept alive while it works, even after a reload
        QString key;                       // the key that source was given
        QTimer* guard = nullptr;
        QElapsedTimer clock;
    };

    void handle(HttpExchange* exchange);
    QByteArray refusal(const HttpRequest& request, const QHostAddress& peer) const;
    void answerPage(HttpExchange* exchange, const QString& search);
    void answerImage(HttpExchange* exchange, const QString& search, const class QUrlQuery& query);
    void finish(quint64 id, const MapAnswer& answer);
    void respond(HttpExchange* exchange, const HttpAnswer& answer, const QStringList& keys = {},
                 qint64 elapsedMs = 0);
    void log(const QString& line, const QStringList& keys = {}) const;
    QByteArray scrub(QByteArray text, const QStringList& keys) const;
    QByteArray pointingAtPage(QByteArray problem) const;
    void updateIdle();

    Options m_options;
    QByteArray m_token;
    HttpServer m_server;
    SourceFactory m_factory;
    Logger m_logger;

    // The configuration as last read, and what it made.
    bool m_configRead = false;
    bool m_configMissing = false;
    QByteArray m_configText;
    GatewayConfig m_config;
    std::shared_ptr<MapSource> m_source;
    QByteArray m_sourceProblem; // the reason phrase when there is no source

    class SettingsPage* m_page = nullptr; // a child

    QHash<quint64, Pending> m_pending;
    quint64 m_nextId = 0;
    QTimer m_idleTimer;
};
