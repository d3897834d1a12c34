#pragma once

#include "HttpServer.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>

#include <memory>

class Gateway;
class MapSource;
struct GatewayConfig;

// The page at the gateway's own address where a person chooses the map provider:
//
//   GET  /            what draws the pictures now, and the form to change it
//   POST /settings    the form, sent by that page: preview a test place, or save
//
// Anyone on this computer can reach a loopback port, web pages included. A page elsewhere may
// make the browser send requests here, so a change is taken only as a POST from this page's
// own origin carrying the token this process put in its form; the page itself cannot be read
// cross-origin, framed or fetched as a part of another page. A saved key is never sent back.
class SettingsPage : public QObject
{
public:
    explicit SettingsPage(Gateway& gateway);

    // Whether the request is for this page (then handle() answers it).
    static bool serves(const HttpRequest& request);
    void handle(HttpExchange* exchange);

    // An answer to the program's picture request, shown as the last picture or last failure.
    void noteAnswer(const HttpRequest& request, const HttpAnswer& answer);

    // The text of the page's form token, made at random when the gateway started.
    QByteArray token() const { return m_token; }

    // The place the page offers to preview.
    static QString defaultPlace() { return QStringLiteral("Haverhill MA"); }

private:
    struct Form;
    struct Shown;

    QByteArray refusal(const HttpRequest& request) const;
    QStringList origins() const;
    void answerPost(HttpExchange* exchange);
    void preview(HttpExchange* exchange, const Form& form);
    void save(HttpExchange* exchange, const Form& form);
    QByteArray page(const Form& form, const Shown& shown) const;
    Form formOf(const GatewayConfig& config) const;
    QByteArray fileText(QString* error) const;
    QByteArray changedText(const QByteArray& text, const Form& form) const;
    void answerPage(HttpExchange* exchange, const Form& form, const Shown& shown);

    Gateway& m_gateway;
    QByteArray m_token;

    struct Event
    {
        QDateTime at;
        QString search;
        QString reason;
    };
    Event m_lastPicture;
    Event m_lastFailure;

    // Sources drawing a preview, until they answer; the last one made, for the settings it was made of.
    QHash<quint64, std::shared_ptr<MapSource>> m_previews;
    std::shared_ptr<MapSource> m_previewSource;
    QByteArray m_previewText;
    quint64 m_nextPreview = 0;
};
