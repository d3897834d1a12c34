#include "Gateway.h"

#include "ConfigFile.h"
#include "DemoSource.h"
#include "ProviderSources.h"
#include "SettingsPage.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>
#include <optional>

namespace {

constexpr int PictureSide = 640;
constexpr int MinSide = 16;
constexpr int MaxSide = 2048;
// A source is told to be done this much before the gateway answers for it.
constexpr int SourceMarginMs = 500;
// The longest reason phrase sent; longer ones are cut.
constexpr qsizetype MostReason = 300;

// A reason phrase is Latin-1 text on one line; anything else becomes '?'.
QByteArray reasonPhrase(const QByteArray& utf8)
{
    QString text = QString::fromUtf8(utf8).simplified();
    for (QChar& c : text) {
        if (c.unicode() > 0xff || c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() < 0xa0)) {
            c = QLatin1Char('?');
        }
    }
    if (text.size() > MostReason) {
        text = text.left(MostReason - 3) + QStringLiteral("...");
    }
    return text.isEmpty() ? QByteArray("Error") : text.toLatin1();
}

QString authority(const QUrl& url)
{
    const int port = url.port(url.scheme() == QLatin1String("https") ? 443 : 80);
    const bool defaultPort = (url.scheme() == QLatin1String("http") && port == 80) ||
                             (url.scheme() == QLatin1String("https") && port == 443);
    QString host = url.host(QUrl::FullyEncoded).toLower();
    if (host.contains(QLatin1Char(':'))) {
        host = QLatin1Char('[') + host + QLatin1Char(']');
    }
    return defaultPort ? host : host + QLatin1Char(':') + QString::number(port);
}

QByteArray randomToken()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex();
}

} // namespace

Gateway::Gateway(const Options& options, QObject* parent)
    : QObject(parent), m_options(options), m_token(randomToken())
{
    HttpServer::Limits limits = m_server.limits();
    limits.lifetimeMs = m_options.answerTimeoutMs + m_options.deliveryMs;
    limits.maxBodyBytes = 64 * 1024; // the settings page's form
    m_server.setLimits(limits);
    m_factory = [](const GatewayConfig& config) { return createProviderSource(config); };
    m_server.setServerName("orrowdale-gateway");
    m_page = new SettingsPage(*this);
    m_server.setHandler([this](HttpExchange* exchange) { handle(exchange); });
    connect(&m_server, &HttpServer::connectionsChanged, this, &Gateway::updateIdle);
    m_idleTimer.setSingleShot(true);
    connect(&m_idleTimer, &QTimer::timeout, this, [this] {
        if (m_server.openConnections() == 0) {
            emit idle();
        }
    });
    updateIdle();
}

Gateway::~Gateway()
{
    for (Pending& p : m_pending) {
        delete p.guard;
    }
}

bool Gateway::listen(quint16 port)
{
    return m_server.listen(QHostAddress::LocalHost, port);
}

bool Gateway::adoptListeningSocket(qintptr descriptor)
{
    return m_server.adoptListeningSocket(descriptor);
}

QString Gateway::baseUrl() const
{
    return m_options.baseUrl.isEmpty() ? QStringLiteral("http://127.0.0.1:%1").arg(port())
                                       : m_options.baseUrl;
}

bool Gateway::sameSecret(const QByteArray& given, const QByteArray& secret)
{
    if (given.size() != secret.size()) {
        return false;
    }
    unsigned char differ = 0;
    for (qsizetype i = 0; i < secret.size(); ++i) {
        differ |= static_cast<unsigned char>(given[i] ^ secret[i]);
    }
    return differ == 0;
}

int Gateway::webZoom(int zl)
{
    return std::clamp(17 - zl, 0, 19);
}

void Gateway::updateIdle()
{
    if (m_options.idleExitMs <= 0) {
        return;
    }
    if (m_server.openConnections() == 0) {
        m_idleTimer.start(m_options.idleExitMs);
    } else {
        m_idleTimer.stop();
    }
}

QStringList Gateway::ownAuthorities() const
{
    QStringList allowed{QStringLiteral("127.0.0.1:%1").arg(port()),
                        QStringLiteral("localhost:%1").arg(port())};
    if (!m_options.baseUrl.isEmpty()) {
        allowed << authority(QUrl(m_options.baseUrl));
    }
    return allowed;
}

QByteArray Gateway::crossSiteRefusal(const HttpRequest& request, bool sameOrigin) const
{
    const QByteArray refused = "Refused: the map gateway does not answer other web sites";
    if (request.hasHeader("Sec-Fetch-Site")) {
        const QByteArray site = request.header("Sec-Fetch-Site").toLower();
        if (site != "none" && !(sameOrigin && site == "same-origin")) {
            return refused;
        }
    }
    if (request.hasHeader("Referer")) {
        const QUrl referer(QString::fromLatin1(request.header("Referer")));
        if (referer.scheme() != QLatin1String("http") || !ownAuthorities().contains(authority(referer))) {
            return refused;
        }
    }
    return {};
}

// Who may ask: a process on this machine, addressing this gateway by a loopback name, not on
// behalf of a web page. A page that rebinds its own name to 127.0.0.1 still sends its own name
// as Host, a page's script request always carries an Origin, and what a browser fetches for a
// page elsewhere says so in Sec-Fetch-Site or its Referer.
QByteArray Gateway::refusal(const HttpRequest& request, const QHostAddress& peer) const
{
    if (!peer.isLoopback()) {
        return "Refused: the map gateway answers this computer only";
    }
    const QString host = QString::fromLatin1(request.header("Host")).toLower();
    const QStringList allowed = ownAuthorities();
    if (!allowed.contains(host)) {
        return "Refused: the map gateway answers only requests addressed to " +
               allowed.constFirst().toLatin1();
    }
    if (request.hasHeader("Origin")) {
        return "Refused: the map gateway does not answer web pages";
    }
    return crossSiteRefusal(request, false);
}

void Gateway::handle(HttpExchange* exchange)
{
    const HttpRequest& request = exchange->request();
    // The page is for a browser and checks who asks in its own way.
    if (SettingsPage::serves(request)) {
        m_page->handle(exchange);
        return;
    }
    if (const QByteArray refused = refusal(request, exchange->peerAddress()); !refused.isEmpty()) {
        respond(exchange, HttpAnswer::text(403, refused, refused));
        return;
    }
    if (request.method != "GET") {
        HttpAnswer answer = HttpAnswer::text(405, "Method Not Allowed: the map gateway answers GET only",
                                             "the map gateway answers GET only");
        answer.headers.append({QByteArray("Allow"), QByteArray("GET")});
        respond(exchange, answer);
        return;
    }
    const QByteArray path = request.path();
    // Form-style queries spell a blank as '+'; the program percent-encodes everything.
    QByteArray query = request.query();
    query.replace('+', "%20");
    const QUrlQuery items(QString::fromUtf8(query));
    const QString search = items.queryItemValue(QStringLiteral("q"), QUrl::FullyDecoded).trimmed();
    if (path == "/maps") {
        answerPage(exchange, search);
    } else if (path == "/mapdata") {
        answerImage(exchange, search, items);
    } else {
        respond(exchange, HttpAnswer::text(404, "Not Found", "the map gateway answers /maps and /mapdata"));
    }
}

void Gateway::answerPage(HttpExchange* exchange, const QString& search)
{
    if (search.isEmpty()) {
        respond(exchange, HttpAnswer::text(400, "No search text in the request (q)", "no search text (q)"));
        return;
    }
    // The page only points at the picture; all the work waits for the image request.
    const QByteArray title = search.toHtmlEscaped().toUtf8();
    // The program takes the address up to the blank before "style=" and adds "&zl=N": the token
    // goes last, and holds nothing that could end the address early.
    const QByteArray reference =
        baseUrl().toUtf8() + "/mapdata?q=" + QUrl::toPercentEncoding(search) + "&w=640&h=640&t=" + m_token;
    const QList<QByteArray> lines{
        "<html><head><title>" + title + " - Orrowdale map gateway</title>",
        "<meta http-equiv=\"content-type\" content=\"text/html; charset=UTF-8\">",
        "</head><body style=\"margin:0\">",
        "<img src=" + reference + " style=\"border:0\">",
        "</body></html>",
    };
    HttpAnswer page;
    page.contentType = "text/html; charset=UTF-8";
    page.body = lines.join("\r\n") + "\r\n";
    respond(exchange, page);
}

void Gateway::answerImage(HttpExchange* exchange, const QString& search, const QUrlQuery& query)
{
    if (!sameSecret(query.queryItemValue(QStringLiteral("t")).toLatin1(), m_token)) {
        const QByteArray reason =
            "Refused: ask /maps first; the picture's address on that page holds the token /mapdata needs";
        respond(exchange, HttpAnswer::text(403, reason, reason));
        return;
    }
    if (search.isEmpty()) {
        respond(exchange, HttpAnswer::text(400, "No search text in the request (q)", "no search text (q)"));
        return;
    }
    auto number = [&query](const QString& name, int fallback, int low, int high) -> std::optional<int> {
        if (!query.hasQueryItem(name)) {
            return fallback;
        }
        bool ok = false;
        const int value = query.queryItemValue(name).trimmed().toInt(&ok);
        return ok && value >= low && value <= high ? std::optional<int>(value) : std::nullopt;
    };
    const std::optional<int> zl = number(QStringLiteral("zl"), 0, -1000, 1000);
    if (!zl) {
        respond(exchange, HttpAnswer::text(400, "The zoom level (zl) is not a whole number",
                                           "zl must be a whole number"));
        return;
    }
    const std::optional<int> w = number(QStringLiteral("w"), PictureSide, MinSide, MaxSide);
    const std::optional<int> h = number(QStringLiteral("h"), PictureSide, MinSide, MaxSide);
    if (!w || !h) {
        respond(exchange, HttpAnswer::text(400, "The picture size (w, h) must be 16 to 2048 pixels",
                                           "w and h must be 16 to 2048"));
        return;
    }

    checkConfiguration();
    if (!m_source) {
        respond(exchange, HttpAnswer::text(503, m_sourceProblem, m_sourceProblem));
        return;
    }

    const quint64 id = ++m_nextId;
    Pending& pending = m_pending[id];
    pending.exchange = exchange;
    pending.source = m_source;
    pending.key = m_config.key;
    pending.clock.start();
    pending.guard = new QTimer(this);
    pending.guard->setSingleShot(true);
    connect(pending.guard, &QTimer::timeout, this, [this, id] {
        finish(id, MapAnswer::failure(504, "The map provider did not answer in time; try again later"));
    });
    pending.guard->start(m_options.answerTimeoutMs);
    // A client that leaves has no answer coming; the source's answer is then dropped.
    connect(exchange, &HttpExchange::finished, this, [this, id] {
        const auto it = m_pending.find(id);
        if (it != m_pending.end()) {
            const QByteArray target = it->exchange ? it->exchange->request().target : QByteArray();
            log(QString::fromUtf8(target) + QStringLiteral(": the client left before its answer"), {it->key});
            delete it->guard;
            m_pending.erase(it);
        }
    });

    MapRequest request;
    request.search = search;
    request.zoom = webZoom(*zl);
    request.size = QSize(*w, *h);
    const QDeadlineTimer deadline(std::max(0, m_options.answerTimeoutMs - SourceMarginMs));
    std::shared_ptr<MapSource> source = m_source; // the source may be replaced while it renders
    source->render(request, deadline, [self = QPointer<Gateway>(this), id](const MapAnswer& answer) {
        if (self) {
            self->finish(id, answer);
        }
    });
}

void Gateway::finish(quint64 id, const MapAnswer& answer)
{
    const auto it = m_pending.find(id);
    if (it == m_pending.end()) {
        return; // answered already (in time or not), or the client left
    }
    Pending pending = *it;
    m_pending.erase(it);
    pending.guard->deleteLater();
    if (!pending.exchange) {
        return;
    }
    HttpAnswer out;
    if (answer.ok() && !answer.body.isEmpty()) {
        out.contentType = answer.contentType.isEmpty() ? QByteArray("image/png") : answer.contentType;
        out.body = answer.body;
    } else if (answer.ok()) {
        out = HttpAnswer::text(502, "The map provider sent an empty picture", {});
    } else {
        const int status = answer.status >= 400 && answer.status <= 599 ? answer.status : 502;
        out = HttpAnswer::text(status, answer.reason, {});
    }
    respond(pending.exchange, out, {pending.key, m_config.key}, pending.clock.elapsed());
}

void Gateway::respond(HttpExchange* exchange, const HttpAnswer& answer, const QStringList& keys,
                      qint64 elapsedMs)
{
    HttpAnswer out = answer;
    out.reason = reasonPhrase(scrub(answer.reason, keys + QStringList{m_config.key, m_config.geocoderKey}));
    if (out.status != 200) {
        // The body repeats the reason, for a person who opens the address in a browser.
        out.contentType = "text/plain; charset=UTF-8";
        out.body = out.reason + '\n';
    }
    const HttpAnswer sent = exchange->respond(out);
    const HttpRequest& request = exchange->request();
    if (request.path() == "/mapdata") {
        m_page->noteAnswer(request, sent);
    }
    // Built in one piece: a target is the client's text, and may hold anything, '%' included.
    log(QString::fromLatin1(request.method) + u' ' + QString::fromUtf8(request.target) + u' ' +
            QString::number(sent.status) + QStringLiteral(" \"") + QString::fromLatin1(sent.reason) +
            QStringLiteral("\" ") + QString::number(sent.body.size()) + QStringLiteral(" bytes ") +
            QString::number(elapsedMs) + QStringLiteral(" ms"),
        keys);
}

QByteArray Gateway::scrub(QByteArray text, const QStringList& keys) const
{
    for (const QString& key : keys) {
        if (key.isEmpty()) {
            continue;
        }
        text.replace(key.toUtf8(), "[key]");
        text.replace(QUrl::toPercentEncoding(key), "[key]");
    }
    return text;
}

void Gateway::log(const QString& line, const QStringList& keys) const
{
    if (!m_logger) {
        return;
    }
    const QString stamp = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    m_logger(stamp + QLatin1Char(' ') +
             QString::fromUtf8(scrub(line.toUtf8(), keys + QStringList{m_config.key, m_config.geocoderKey})));
}

// A configuration problem ends with where to mend it, kept whole within a reason phrase's length.
QByteArray Gateway::pointingAtPage(QByteArray problem) const
{
    const QByteArray tail = ". Choose a real map provider at " + pageUrl().toUtf8();
    if (problem.size() + tail.size() > MostReason) {
        problem = problem.left(std::max<qsizetype>(0, MostReason - tail.size() - 3)) + "...";
    }
    return problem + tail;
}

void Gateway::checkConfiguration()
{
    QFile file(m_options.configPath);
    // A dangling link counts as no file: demo maps, as for a file not made yet.
    const bool missing = !QFileInfo::exists(m_options.configPath);
    QByteArray text;
    if (!missing) {
        if (!file.open(QIODevice::ReadOnly)) {
            const QByteArray problem = "Cannot read the map gateway's configuration file " +
                                       ConfigFile::displayPath(m_options.configPath).toUtf8();
            if (m_sourceProblem != problem || m_source) {
                log(QStringLiteral("cannot read %1: %2").arg(m_options.configPath, file.errorString()));
            }
            m_source.reset();
            m_sourceProblem = problem;
            m_configRead = false;
            return;
        }
        // A configuration file is small; anything huge is not one.
        text = file.read(1 << 20);
    }
    if (m_configRead && missing == m_configMissing && text == m_configText) {
        return;
    }
    m_configRead = true;
    m_configMissing = missing;
    m_configText = text;

    const QString where = ConfigFile::displayPath(m_options.configPath);
    const ConfigFile::Reading reading = ConfigFile::parse(text);
    const QString oldKey = m_config.key;
    m_config = reading.config;
    m_config.contactUrl = QStringLiteral(ORROWDALE_CONTACT_URL);
    if (!missing && !m_config.key.isEmpty() &&
        (QFile::permissions(m_options.configPath) & (QFile::ReadGroup | QFile::ReadOther))) {
        log(QStringLiteral("configuration %1 holds a key and others can read it: chmod 600 %1").arg(where));
    }
    for (const QString& warning : reading.warnings) {
        log(QStringLiteral("configuration %1 %2 (ignored)").arg(where, warning), {oldKey});
    }
    m_source.reset();
    m_sourceProblem.clear();
    if (!reading.errors.isEmpty()) {
        for (const QString& error : reading.errors) {
            log(QStringLiteral("configuration %1 %2").arg(where, error), {oldKey});
        }
        m_sourceProblem = pointingAtPage("The map gateway's configuration needs a fix: " + where.toUtf8() +
                                         ' ' + reading.errors.constFirst().toUtf8());
        return;
    }
    // Sources are the gateway's children, so none outlives it. One that is replaced may be in
    // the middle of answering: it goes when control is back in the event loop.
    const auto keep = [](MapSource* source) { source->deleteLater(); };
    if (m_config.source == GatewayConfig::Source::Demo) {
        m_source = std::shared_ptr<MapSource>(new DemoSource(pageUrl(), this), keep);
        log(missing ? QStringLiteral("configuration %1 not found: demo maps").arg(where)
                    : QStringLiteral("configuration %1: demo maps").arg(where));
        return;
    }
    std::unique_ptr<MapSource> made = m_factory ? m_factory(m_config) : nullptr;
    if (!made) {
        m_sourceProblem = pointingAtPage("The map provider set in " + where.toUtf8() +
                                         " cannot be used; check its settings or set source = demo");
        log(QStringLiteral("configuration %1: the provider cannot be set up").arg(where));
        return;
    }
    made->setParent(this);
    m_source = std::shared_ptr<MapSource>(made.release(), keep);
    log(QStringLiteral("configuration %1: %2 provider")
            .arg(where, m_config.source == GatewayConfig::Source::Static ? QStringLiteral("static")
                                                                         : QStringLiteral("tiles")));
}
