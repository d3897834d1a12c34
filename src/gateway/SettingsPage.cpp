#include "SettingsPage.h"

#include "ConfigFile.h"
#include "ConfigWriter.h"
#include "DemoSource.h"
#include "Gateway.h"
#include "Presets.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QRandomGenerator>
#include <QUrl>
#include <QUrlQuery>

namespace {

// The zoom box value the preview is drawn at: a town and its roads.
constexpr int PreviewZoomBox = 5;
constexpr qsizetype MostFileBytes = 1 << 20;

const QByteArray& styleSheet()
{
    static const QByteArray css = QByteArrayLiteral(
        "body{font:16px/1.45 \"Liberation Sans\",sans-serif;margin:0 auto;max-width:52em;padding:1em;"
        "color:#1d1d1d;background:#fafaf7}"
        "h1{font-size:1.5em;margin:.2em 0}h2{font-size:1.15em;margin:1.2em 0 .4em}"
        "dl{display:grid;grid-template-columns:max-content 1fr;gap:.2em 1em;margin:0}dt{font-weight:bold}"
        "dd{margin:0}fieldset{border:1px solid #c8c8c0;border-radius:4px;margin:0 0 1em;padding:.6em 1em}"
        "fieldset fieldset{border:0;padding:0;margin:.4em 0 .8em}legend{font-weight:bold;padding:0 .3em}"
        ".choice{margin:.35em 0}.about{margin:.1em 0 0 1.8em;font-size:.9em;color:#4a4a4a}"
        ".files{margin:0 0 .6em 1.8em}.field{margin:.5em 0}.field label{display:block;font-weight:bold}"
        "input[type=text],input[type=password]{font:inherit;width:100%;max-width:28em;padding:.25em;"
        "box-sizing:border-box}"
        "button{font:inherit;padding:.35em 1.2em;margin:.3em .6em .3em 0}"
        ":focus-visible{outline:3px solid #1a5fb4;outline-offset:2px}"
        ".problem{border-left:4px solid #b3261e;background:#fbeaea;padding:.4em .8em}"
        ".done{border-left:4px solid #2e7d32;background:#e9f5ea;padding:.4em .8em}"
        ".hint{font-size:.9em;color:#4a4a4a;margin:.2em 0}img{max-width:100%;height:auto;border:1px solid "
        "#c8c8c0}");
    return css;
}

// Nothing from anywhere: the style sheet is allowed by its hash, pictures only as data: URLs,
// and the form may post only back here.
QByteArray contentSecurityPolicy()
{
    static const QByteArray policy =
        "default-src 'none'; img-src data:; style-src 'sha256-" +
        QCryptographicHash::hash(styleSheet(), QCryptographicHash::Sha256).toBase64() +
        "'; form-action 'self'; frame-ancestors 'none'; base-uri 'none'";
    return policy;
}

QString escaped(const QString& text)
{
    return text.toHtmlEscaped();
}

bool hasControl(const QString& text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator) {
            return true;
        }
    }
    return false;
}

// The paths typed in a file field ("/a.mbtiles, ~/b.mbtiles"), each without the scheme a
// person may have copied from gateway.conf along with it.
QStringList pathsTyped(const QString& typed, QLatin1String scheme)
{
    QStringList paths;
    const QString prefix = scheme + QLatin1Char(':');
    for (const QString& item : typed.split(QLatin1Char(','))) {
        QString path = item.trimmed();
        if (path.startsWith(prefix, Qt::CaseInsensitive)) {
            path = path.mid(prefix.size()).trimmed();
        }
        if (!path.isEmpty()) {
            paths << path;
        }
    }
    return paths;
}

// A setting of files ("mbtiles:/a, mbtiles:/b") as its field shows it, "/a, /b"; empty when the
// setting is a web address.
QString pathsShown(const QString& setting, QLatin1String scheme)
{
    const QString prefix = scheme + QLatin1Char(':');
    if (!setting.trimmed().startsWith(prefix, Qt::CaseInsensitive)) {
        return {};
    }
    return pathsTyped(setting, scheme).join(QStringLiteral(", "));
}

QString filesSetting(const QString& typed, QLatin1String scheme)
{
    QStringList items;
    for (const QString& path : pathsTyped(typed, scheme)) {
        items << scheme + QLatin1Char(':') + path;
    }
    return items.join(QStringLiteral(", "));
}

// What keeps a file field from being saved: the gateway opens files by their whole path only
// (~ standing for the home folder), and needs one at least.
QString filesProblem(const QString& typed, QLatin1String scheme, const QString& what, const QString& example)
{
    const QStringList paths = pathsTyped(typed, scheme);
    if (paths.isEmpty()) {
        return QStringLiteral("Name at least one %1 by its whole path, such as %2.").arg(what, example);
    }
    for (const QString& path : paths) {
        const bool home = path == QLatin1String("~") || path.startsWith(QLatin1String("~/"));
        if (!home && QDir::isRelativePath(path)) {
            return QStringLiteral("The %1 \u201c%2\u201d needs its whole path, such as %3.")
                .arg(what, path, example);
        }
    }
    return {};
}

QString textField(const char* id, const QString& label, const QString& value, const QString& hint)
{
    return QStringLiteral("<div class=\"field\"><label for=\"%1\">%2</label>"
                          "<input type=\"text\" id=\"%1\" name=\"%1\" value=\"%3\" spellcheck=\"false\" "
                          "aria-describedby=\"%1-hint\"><p class=\"hint\" id=\"%1-hint\">%4</p></div>\n")
        .arg(QLatin1String(id), label, escaped(value), hint);
}

// A provider a person can pick: the demo maps, map files, the user's own addresses, or a known provider.
struct Choice
{
    QString id;
    QString name;
    QString group;
    QString needs; // what else it needs, in words
    const Presets::Preset* preset = nullptr;
};

QList<Choice> choices()
{
    QList<Choice> out{
        {QStringLiteral("demo"), QStringLiteral("Demo maps"), QStringLiteral("No provider"),
         QStringLiteral("Offline pictures marked as demo maps; no key."), nullptr},
        {QStringLiteral("mapfiles"), QStringLiteral("Map files on this computer"),
         QStringLiteral("No provider"),
         QStringLiteral("Real maps from an MBTiles file and places from a GeoNames dump or a CSV of "
                        "name,lat,lon; no network, no key."),
         nullptr},
    };
    for (const Presets::Preset& p : Presets::all()) {
        QString needs = p.needsKey ? QStringLiteral("Needs an %1.")
                                         .arg(p.keyName.isEmpty() ? QStringLiteral("API key") : p.keyName)
                                   : QStringLiteral("No key needed.");
        if (!p.styleName.isEmpty()) {
            needs += QStringLiteral(" Style: %1 (default %2).").arg(p.styleName, p.styleDefault);
        }
        out << Choice{p.id, p.name, Presets::kindName(p.kind), needs, &p};
    }
    out << Choice{QStringLiteral("static"), QStringLiteral("Your own static-map API"),
                  QStringLiteral("Your own addresses"),
                  QStringLiteral("Its address template is set in gateway.conf, [static] url."), nullptr}
        << Choice{QStringLiteral("tiles"), QStringLiteral("Your own geocoder and tile server"),
                  QStringLiteral("Your own addresses"),
                  QStringLiteral("Their address templates are set in gateway.conf, [tiles]."), nullptr};
    return out;
}

QString choiceId(const GatewayConfig& config)
{
    switch (config.source) {
    case GatewayConfig::Source::Demo:
        return QStringLiteral("demo");
    case GatewayConfig::Source::Static:
        return QStringLiteral("static");
    case GatewayConfig::Source::Tiles:
        // Files for both halves is the page's own choice; a mix is edited in the file.
        return !pathsShown(config.tileUrl, QLatin1String("mbtiles")).isEmpty() &&
                       !pathsShown(config.geocoderUrl, QLatin1String("gazetteer")).isEmpty()
                   ? QStringLiteral("mapfiles")
                   : QStringLiteral("tiles");
    case GatewayConfig::Source::Preset:
        return config.preset;
    }
    return {};
}

QString choiceName(const QString& id)
{
    for (const Choice& c : choices()) {
        if (c.id == id) {
            return c.name;
        }
    }
    return id;
}

QString originOf(const QUrl& url)
{
    QString host = url.host(QUrl::FullyEncoded).toLower();
    if (host.contains(QLatin1Char(':'))) {
        host = QLatin1Char('[') + host + QLatin1Char(']');
    }
    const int port = url.port(80);
    return QStringLiteral("http://") + host + (port == 80 ? QString() : QStringLiteral(":%1").arg(port));
}

HttpAnswer refused(const QByteArray& reason)
{
    return HttpAnswer::text(403, "Refused: " + reason, reason);
}

} // namespace

// What the form holds: the settings as saved, or as the person typed them.
struct SettingsPage::Form
{
    QString source;
    QString key; // typed, never the saved one
    bool forgetKey = false;
    QString style;
    QString server;
    QString country;
    QString mapFiles;   // paths, with commas between
    QString placeFiles; // paths, with commas between
    bool marker = true;
    int pictureSize = 640;
    QString place = SettingsPage::defaultPlace();
};

// What the page shows besides the form.
struct SettingsPage::Shown
{
    QString done;    // a change was saved
    QString problem; // the form cannot be used as it is
    bool previewed = false;
    QByteArray picture; // encoded picture of the place
    QByteArray pictureType;
    QString reason; // why there is no picture
};

SettingsPage::SettingsPage(Gateway& gateway) : QObject(&gateway), m_gateway(gateway)
{
    quint32 words[8];
    QRandomGenerator::system()->fillRange(words);
    m_token = QByteArray(reinterpret_cast<const char*>(words), sizeof words)
                  .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

bool SettingsPage::serves(const HttpRequest& request)
{
    const QByteArray path = request.path();
    return path == "/" || path == "/settings";
}

QStringList SettingsPage::origins() const
{
    QStringList out{QStringLiteral("http://127.0.0.1:%1").arg(m_gateway.port()),
                    QStringLiteral("http://localhost:%1").arg(m_gateway.port())};
    if (!m_gateway.m_options.baseUrl.isEmpty()) {
        out << originOf(QUrl(m_gateway.m_options.baseUrl));
    }
    return out;
}

QByteArray SettingsPage::refusal(const HttpRequest& request) const
{
    const QStringList own = origins();
    QStringList hosts;
    for (const QString& origin : own) {
        hosts << origin.mid(int(sizeof "http://") - 1);
    }
    if (!hosts.contains(QString::fromLatin1(request.header("Host")).toLower())) {
        return "the settings page answers only requests addressed to " + hosts.constFirst().toLatin1();
    }
    const bool ownOrigin = own.contains(QString::fromLatin1(request.header("Origin")));
    if (request.hasHeader("Origin") && !ownOrigin) {
        return "the settings page answers its own page only";
    }
    if (request.method == "POST") {
        if (!ownOrigin) {
            return "settings change only from the gateway's own page";
        }
        return {};
    }
    // Another site may link here, but not load the page as a part of its own.
    const QByteArray site = request.header("Sec-Fetch-Site");
    if ((site == "cross-site" || site == "same-site") && request.header("Sec-Fetch-Dest") != "document") {
        return "the settings page is not a part of other pages";
    }
    return {};
}

void SettingsPage::handle(HttpExchange* exchange)
{
    const HttpRequest& request = exchange->request();
    if (!exchange->peerAddress().isLoopback()) {
        m_gateway.respond(exchange, refused("the map gateway answers this computer only"));
        return;
    }
    if (const QByteArray why = refusal(request); !why.isEmpty()) {
        m_gateway.respond(exchange, refused(why));
        return;
    }
    const bool post = request.path() == "/settings";
    if (request.method != (post ? "POST" : "GET")) {
        HttpAnswer answer = HttpAnswer::text(405, "Method Not Allowed", "method not allowed");
        answer.headers.append({QByteArray("Allow"), QByteArray(post ? "POST" : "GET")});
        m_gateway.respond(exchange, answer);
        return;
    }
    if (post) {
        answerPost(exchange);
        return;
    }
    m_gateway.checkConfiguration();
    Shown shown;
    if (QUrlQuery(QString::fromUtf8(request.query())).hasQueryItem(QStringLiteral("saved"))) {
        shown.done = QStringLiteral("Saved in %1. The next picture comes from %2.")
                         .arg(ConfigFile::displayPath(m_gateway.m_options.configPath),
                              choiceName(choiceId(m_gateway.m_config)));
    }
    answerPage(exchange, formOf(m_gateway.m_config), shown);
}

SettingsPage::Form SettingsPage::formOf(const GatewayConfig& config) const
{
    Form form;
    form.source = choiceId(config);
    form.style = config.style;
    form.server = config.server;
    form.country = config.country;
    form.mapFiles = pathsShown(config.tileUrl, QLatin1String("mbtiles"));
    form.placeFiles = pathsShown(config.geocoderUrl, QLatin1String("gazetteer"));
    form.marker = config.marker;
    form.pictureSize = config.pictureSize;
    return form;
}

void SettingsPage::answerPost(HttpExchange* exchange)
{
    m_gateway.checkConfiguration();
    const HttpRequest& request = exchange->request();
    const QByteArray type = request.header("Content-Type").split(';').constFirst().trimmed().toLower();
    if (type != "application/x-www-form-urlencoded") {
        m_gateway.respond(exchange, refused("the settings page takes its own form only"));
        return;
    }
    QByteArray body = request.body;
    body.replace('+', "%20");
    const QUrlQuery items(QString::fromUtf8(body));
    auto field = [&items](const char* name) {
        return items.queryItemValue(QString::fromLatin1(name), QUrl::FullyDecoded).trimmed();
    };
    if (!Gateway::sameSecret(field("token").toLatin1(), m_token)) {
        m_gateway.respond(exchange, refused("the form is out of date; open the settings page again"));
        return;
    }
    Form form;
    form.source = field("source").toLower();
    form.key = field("key");
    form.forgetKey = !field("forget_key").isEmpty();
    form.style = field("style");
    form.server = field("server");
    form.country = field("country");
    form.mapFiles = field("map_files");
    form.placeFiles = field("place_files");
    form.marker = field("marker") == QLatin1String("on");
    form.pictureSize = field("picture_size") == QLatin1String("1280") ? 1280 : 640;
    form.place = field("place");
    if (form.place.isEmpty()) {
        form.place = defaultPlace();
    }
    // A style or server left as it was saved belongs to the provider it was saved with: another
    // provider gets its own defaults.
    const GatewayConfig& saved = m_gateway.m_config;
    if (form.source != choiceId(saved)) {
        if (form.style == saved.style) {
            form.style.clear();
        }
        if (form.server == saved.server) {
            form.server.clear();
        }
    }

    QString problem;
    const QList<std::pair<const char*, const QString*>> texts{
        {"key", &form.key},          {"style", &form.style},        {"server", &form.server},
        {"test place", &form.place}, {"map files", &form.mapFiles}, {"place files", &form.placeFiles}};
    for (const auto& [name, text] : texts) {
        if (hasControl(*text) || text->size() > 1000) {
            problem = QStringLiteral("The %1 must be one line of text.").arg(QLatin1String(name));
        }
    }
    if (problem.isEmpty() && form.source == QLatin1String("mapfiles")) {
        problem = filesProblem(form.mapFiles, QLatin1String("mbtiles"), QStringLiteral("map file"),
                               QStringLiteral("/data/maps/region.mbtiles"));
        if (problem.isEmpty()) {
            problem = filesProblem(form.placeFiles, QLatin1String("gazetteer"), QStringLiteral("place file"),
                                   QStringLiteral("/data/geonames/US.txt"));
        }
    }
    bool known = false;
    for (const Choice& c : choices()) {
        known = known || c.id == form.source;
    }
    if (!known) {
        problem = QStringLiteral("Choose a map provider from the list.");
    }
    if (!problem.isEmpty()) {
        Shown shown;
        shown.problem = problem;
        answerPage(exchange, form, shown);
        return;
    }
    if (field("action") == QLatin1String("save")) {
        save(exchange, form);
    } else {
        preview(exchange, form);
    }
}

QByteArray SettingsPage::fileText(QString* error) const
{
    QFile file(m_gateway.m_options.configPath);
    if (!file.exists()) {
        return ConfigFile::templateText();
    }
    // A file that cannot be read whole is not written over: what it holds would be lost.
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Cannot read %1 (%2), so it is left as it is.")
                     .arg(ConfigFile::displayPath(file.fileName()), file.errorString());
        return {};
    }
    const QByteArray text = file.read(MostFileBytes + 1);
    if (text.size() > MostFileBytes) {
        *error = QStringLiteral("%1 is too large to be a configuration file, so it is left as it is.")
                     .arg(ConfigFile::displayPath(file.fileName()));
        return {};
    }
    return text;
}

QByteArray SettingsPage::changedText(const QByteArray& text, const Form& form) const
{
    auto optional = [](const QString& value) {
        return value.isEmpty() ? std::nullopt : std::optional(value);
    };
    const bool mapFiles = form.source == QLatin1String("mapfiles");
    QList<ConfigWriter::Change> changes{
        {QStringLiteral("gateway"), QStringLiteral("source"),
         mapFiles ? QStringLiteral("tiles") : form.source},
        {QStringLiteral("gateway"), QStringLiteral("style"), optional(form.style)},
        {QStringLiteral("gateway"), QStringLiteral("server"), optional(form.server)},
        {QStringLiteral("gateway"), QStringLiteral("country"), optional(form.country)},
        {QStringLiteral("gateway"), QStringLiteral("marker"),
         form.marker ? QStringLiteral("on") : QStringLiteral("off")},
        {QStringLiteral("gateway"), QStringLiteral("picture_size"), QString::number(form.pictureSize)},
    };
    if (mapFiles) {
        changes << ConfigWriter::Change{QStringLiteral("tiles"), QStringLiteral("geocoder"),
                                        filesSetting(form.placeFiles, QLatin1String("gazetteer"))}
                << ConfigWriter::Change{QStringLiteral("tiles"), QStringLiteral("tiles"),
                                        filesSetting(form.mapFiles, QLatin1String("mbtiles"))};
    }
    // An empty key field keeps the saved key.
    if (!form.key.isEmpty()) {
        changes << ConfigWriter::Change{QStringLiteral("gateway"), QStringLiteral("key"), form.key};
    } else if (form.forgetKey) {
        changes << ConfigWriter::Change{QStringLiteral("gateway"), QStringLiteral("key"), std::nullopt};
    }
    return ConfigWriter::apply(text, changes);
}

void SettingsPage::preview(HttpExchange* exchange, const Form& form)
{
    QString error;
    const QByteArray text = fileText(&error);
    const QByteArray changed = changedText(text, form);
    const ConfigFile::Reading reading = ConfigFile::parse(changed);
    Shown shown;
    shown.previewed = true;
    if (!error.isEmpty() || !reading.errors.isEmpty()) {
        shown.reason = error.isEmpty()
                           ? QStringLiteral("These settings need a fix: ") + reading.errors.constFirst()
                           : error;
        answerPage(exchange, form, shown);
        return;
    }
    // Drawn by the source the gateway would make from these settings once saved: the one it has
    // when they are the saved ones, else one made the same way (kept while the settings stay).
    GatewayConfig config = reading.config;
    config.contactUrl = m_gateway.m_config.contactUrl;
    std::shared_ptr<MapSource> source;
    if (m_gateway.m_source && changed == m_gateway.m_configText) {
        source = m_gateway.m_source;
    } else if (m_previewSource && changed == m_previewText) {
        source = m_previewSource;
    } else {
        std::unique_ptr<MapSource> made;
        if (config.source == GatewayConfig::Source::Demo) {
            made = std::make_unique<DemoSource>(m_gateway.pageUrl());
        } else if (m_gateway.m_factory) {
            made = m_gateway.m_factory(config);
        }
        if (!made) {
            shown.reason = QStringLiteral("This provider cannot be set up with these settings.");
            answerPage(exchange, form, shown);
            return;
        }
        // A source may still be working on the stack that calls back: it goes from the event loop.
        made->setParent(this);
        source = std::shared_ptr<MapSource>(made.release(), [](MapSource* s) { s->deleteLater(); });
        m_previewSource = source;
        m_previewText = changed;
    }
    const quint64 id = ++m_nextPreview;
    m_previews[id] = source; // kept until it has answered, whatever replaces it meanwhile
    MapRequest request;
    request.search = form.place;
    request.zoom = Gateway::webZoom(PreviewZoomBox - 1);
    const QDeadlineTimer deadline(std::max(0, m_gateway.m_options.answerTimeoutMs - 500));
    QPointer<HttpExchange> asker(exchange);
    QPointer<SettingsPage> self(this);
    source->render(request, deadline,
                   [self, asker, id, form, shown, key = config.key](const MapAnswer& answer) mutable {
                       if (!self) {
                           return;
                       }
                       self->m_previews.remove(id);
                       if (!asker) {
                           return;
                       }
                       if (answer.ok() && !answer.body.isEmpty()) {
                           shown.picture = answer.body;
                           shown.pictureType =
                               answer.contentType.isEmpty() ? QByteArray("image/png") : answer.contentType;
                       } else {
                           shown.reason = QString::fromUtf8(self->m_gateway.scrub(answer.reason, {key}));
                       }
                       self->answerPage(asker, form, shown);
                   });
}

void SettingsPage::save(HttpExchange* exchange, const Form& form)
{
    QString error;
    const QByteArray text = fileText(&error);
    const QByteArray changed = error.isEmpty() ? changedText(text, form) : QByteArray();
    const ConfigFile::Reading reading = ConfigFile::parse(changed);
    if (error.isEmpty() && !reading.errors.isEmpty()) {
        error = QStringLiteral("Not saved: these settings need a fix: ") + reading.errors.constFirst();
    }
    if (error.isEmpty() && !ConfigWriter::replace(m_gateway.m_options.configPath, changed, &error)) {
        error = QStringLiteral("Not saved: ") + error;
    }
    if (!error.isEmpty()) {
        Shown shown;
        shown.problem = error;
        answerPage(exchange, form, shown);
        return;
    }
    m_gateway.log(QStringLiteral("configuration %1 saved from the settings page")
                      .arg(ConfigFile::displayPath(m_gateway.m_options.configPath)));
    // Back to the page by GET, so that reloading it does not save again.
    HttpAnswer answer = HttpAnswer::text(303, "See Other", "saved");
    answer.headers.append({QByteArray("Location"), QByteArray("/?saved")});
    m_gateway.respond(exchange, answer);
}

void SettingsPage::answerPage(HttpExchange* exchange, const Form& form, const Shown& shown)
{
    HttpAnswer answer;
    answer.contentType = "text/html; charset=UTF-8";
    answer.body = page(form, shown);
    answer.headers = {
        {"Content-Security-Policy", contentSecurityPolicy()},
        {"X-Frame-Options", "DENY"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "same-origin"}, // no-referrer would make the form's Origin "null"
        {"Cross-Origin-Resource-Policy", "same-origin"},
        {"Cross-Origin-Opener-Policy", "same-origin"},
        {"Cache-Control", "no-store"},
    };
    m_gateway.respond(exchange, answer);
}

void SettingsPage::noteAnswer(const HttpRequest& request, const HttpAnswer& answer)
{
    QByteArray query = request.query();
    query.replace('+', "%20");
    Event event{QDateTime::currentDateTimeUtc(),
                QUrlQuery(QString::fromUtf8(query)).queryItemValue(QStringLiteral("q"), QUrl::FullyDecoded),
                QString::fromLatin1(answer.reason)};
    (answer.status == 200 ? m_lastPicture : m_lastFailure) = event;
}

QByteArray SettingsPage::page(const Form& form, const Shown& shown) const
{
    const GatewayConfig& saved = m_gateway.m_config;
    const QString file = escaped(ConfigFile::displayPath(m_gateway.m_options.configPath));
    auto when = [](const Event& e) {
        return e.at.isValid() ? e.at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'")) : QString();
    };
    QString now = m_gateway.m_source
                      ? escaped(choiceName(choiceId(saved)))
                      : QStringLiteral("nothing: ") + escaped(QString::fromUtf8(m_gateway.m_sourceProblem));
    QString h = QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                               "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                               "<title>Map provider - Orrowdale map gateway</title><style>") +
                QString::fromUtf8(styleSheet()) +
                QStringLiteral("</style></head><body>\n<header><h1>Orrowdale map gateway</h1>"
                               "<p>Where Orrowdale's map pictures come from.</p></header>\n<main>\n"
                               "<section aria-labelledby=\"now\"><h2 id=\"now\">Now</h2><dl>");
    h += QStringLiteral("<dt>Maps come from</dt><dd>%1</dd>").arg(now);
    h += QStringLiteral("<dt>Settings file</dt><dd>%1</dd>").arg(file);
    h += QStringLiteral("<dt>Last picture</dt><dd>%1</dd>")
             .arg(m_lastPicture.at.isValid()
                      ? QStringLiteral("%1, %2").arg(escaped(m_lastPicture.search), when(m_lastPicture))
                      : QStringLiteral("none yet"));
    h += QStringLiteral("<dt>Last failure</dt><dd>%1</dd></dl>")
             .arg(m_lastFailure.at.isValid() ? QStringLiteral("%1, %2: %3")
                                                   .arg(escaped(m_lastFailure.search), when(m_lastFailure),
                                                        escaped(m_lastFailure.reason))
                                             : QStringLiteral("none"));
    if (!shown.done.isEmpty()) {
        h += QStringLiteral("<p class=\"done\" role=\"status\">%1</p>").arg(escaped(shown.done));
    }
    if (!shown.problem.isEmpty()) {
        h += QStringLiteral("<p class=\"problem\" role=\"alert\">%1</p>").arg(escaped(shown.problem));
    }
    h += QStringLiteral("</section>\n<form method=\"post\" action=\"/settings\">"
                        "<input type=\"hidden\" name=\"token\" value=\"%1\">\n")
             .arg(QString::fromLatin1(m_token));

    // The providers, grouped as the list names them.
    h += QStringLiteral("<fieldset><legend>Map provider</legend>\n");
    QString group;
    for (const Choice& c : choices()) {
        if (c.group != group) {
            h += group.isEmpty() ? QString() : QStringLiteral("</fieldset>\n");
            group = c.group;
            h += QStringLiteral("<fieldset><legend>%1</legend>\n").arg(escaped(group));
        }
        QString about = escaped(c.needs);
        if (c.preset && !c.preset->signUpUrl.isEmpty()) {
            about +=
                QStringLiteral(" <a href=\"%1\" rel=\"noreferrer noopener\" target=\"_blank\">Get a key</a>")
                    .arg(escaped(c.preset->signUpUrl));
        }
        if (c.preset && !c.preset->termsUrl.isEmpty()) {
            about += QStringLiteral(" <a href=\"%1\" rel=\"noreferrer noopener\" target=\"_blank\">Terms</a>")
                         .arg(escaped(c.preset->termsUrl));
        }
        h +=
            QStringLiteral("<div class=\"choice\"><input type=\"radio\" name=\"source\" id=\"source-%1\" "
                           "value=\"%1\" aria-describedby=\"about-%1\"%2> <label for=\"source-%1\">%3</label>"
                           "<p class=\"about\" id=\"about-%1\">%4</p></div>\n")
                .arg(escaped(c.id), c.id == form.source ? QStringLiteral(" checked") : QString(),
                     escaped(c.name), about);
        if (c.id == QLatin1String("mapfiles")) {
            h += QStringLiteral("<div class=\"files\">") +
                 textField(
                     "map_files", QStringLiteral("Map files (MBTiles)"), form.mapFiles,
                     QStringLiteral("Whole paths, such as /data/maps/region.mbtiles; several with commas "
                                    "between, the first that holds the place draws it.")) +
                 textField("place_files", QStringLiteral("Place files"), form.placeFiles,
                           QStringLiteral("GeoNames place or postal-code dumps (US.txt, cities500.txt), or a "
                                          "CSV of name,lat,lon; whole paths, commas between.")) +
                 QStringLiteral("</div>\n");
        }
    }
    h += QStringLiteral("</fieldset></fieldset>\n");

    // The key: a saved one is named by its end only.
    QString keyState = QStringLiteral("No key is saved.");
    if (!saved.key.isEmpty()) {
        keyState =
            saved.key.size() >= 12
                ? QStringLiteral("A key is saved, ending in \u201c%1\u201d.").arg(escaped(saved.key.right(4)))
                : QStringLiteral("A key is saved.");
        keyState += QStringLiteral(" Leave the field empty to keep it.");
    }
    h += QStringLiteral("<fieldset><legend>Key and style</legend>\n"
                        "<div class=\"field\"><label for=\"key\">Key</label>"
                        "<input type=\"password\" id=\"key\" name=\"key\" value=\"%1\" autocomplete=\"off\" "
                        "spellcheck=\"false\" aria-describedby=\"key-state\">"
                        "<p class=\"hint\" id=\"key-state\">%2</p>")
             .arg(escaped(form.key), keyState);
    if (!saved.key.isEmpty()) {
        h += QStringLiteral("<input type=\"checkbox\" id=\"forget-key\" name=\"forget_key\" value=\"1\"%1> "
                            "<label for=\"forget-key\">Remove the saved key</label>")
                 .arg(form.forgetKey ? QStringLiteral(" checked") : QString());
    }
    h += QStringLiteral("</div>\n");
    auto text = [&h](const char* id, const QString& label, const QString& value, const QString& hint) {
        h += textField(id, label, value, hint);
    };
    text("style", QStringLiteral("Style"), form.style,
         QStringLiteral("The provider's map id or style name; empty for its default."));
    text("country", QStringLiteral("Country"), form.country,
         QStringLiteral("Two-letter code, such as US: where a bare zip code or name is looked for first."));
    text("server", QStringLiteral("Server address"), form.server,
         QStringLiteral(
             "Only for a company proxy or the provider's regional address; empty for the provider's own."));
    h += QStringLiteral(
             "</fieldset>\n<fieldset><legend>Pictures</legend>\n"
             "<div class=\"choice\"><input type=\"checkbox\" id=\"marker\" name=\"marker\" value=\"on\"%1> "
             "<label for=\"marker\">A pin at the place</label></div>\n"
             "<fieldset><legend>Size</legend>"
             "<div class=\"choice\"><input type=\"radio\" id=\"size-640\" name=\"picture_size\" "
             "value=\"640\"%2> "
             "<label for=\"size-640\">640 \u00d7 640, as Orrowdale asks</label></div>"
             "<div class=\"choice\"><input type=\"radio\" id=\"size-1280\" name=\"picture_size\" "
             "value=\"1280\"%3> "
             "<label for=\"size-1280\">1280 \u00d7 1280 at twice the detail, for print</label></div>"
             "</fieldset></fieldset>\n")
             .arg(form.marker ? QStringLiteral(" checked") : QString(),
                  form.pictureSize == 1280 ? QString() : QStringLiteral(" checked"),
                  form.pictureSize == 1280 ? QStringLiteral(" checked") : QString());

    // Preview comes first among the buttons: Enter in a field tries, it does not save.
    h += QStringLiteral("<fieldset><legend>Try it</legend>"
                        "<div class=\"field\"><label for=\"place\">Test place</label>"
                        "<input type=\"text\" id=\"place\" name=\"place\" value=\"%1\"></div>"
                        "<button type=\"submit\" name=\"action\" value=\"preview\">Preview</button> "
                        "<span class=\"hint\">Asks the provider for one picture (it counts against the key); "
                        "saves nothing.</span>\n")
             .arg(escaped(form.place));
    if (shown.previewed) {
        h += QStringLiteral("<section aria-labelledby=\"preview-title\"><h2 id=\"preview-title\">Preview of "
                            "\u201c%1\u201d</h2>")
                 .arg(escaped(form.place));
        if (!shown.picture.isEmpty()) {
            h += QStringLiteral("<img id=\"preview\" src=\"data:%1;base64,%2\" alt=\"Map of %3 from %4\">")
                     .arg(QString::fromLatin1(shown.pictureType),
                          QString::fromLatin1(shown.picture.toBase64()), escaped(form.place),
                          escaped(choiceName(form.source)));
            h += QStringLiteral("<p class=\"hint\">Not saved yet.</p>");
        } else {
            h += QStringLiteral("<p class=\"problem\" role=\"alert\" id=\"preview-failure\">%1</p>")
                     .arg(escaped(shown.reason));
        }
        h += QStringLiteral("</section>");
    }
    h += QStringLiteral(
             "</fieldset>\n<p><button type=\"submit\" name=\"action\" value=\"save\">Save</button> "
             "<span class=\"hint\">Writes %1, readable by you only; your own lines and comments in it stay. "
             "The next picture uses it.</span></p>\n</form>\n</main></body></html>\n")
             .arg(file);
    return h.toUtf8();
}
