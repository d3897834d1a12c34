#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <QUrl>

// A provider address with placeholders such as {search} or {z}, as written in gateway.conf.
namespace UrlTemplate {

// What is wrong with a template, for a message naming the setting (empty when it is usable):
// it must be an http(s) address with a host, hold every placeholder in required and no
// placeholder outside allowed.
QString problem(const QString& templ, const QStringList& required, const QStringList& allowed);

// The template with each {name} replaced by its value, percent-encoded where it stands.
QUrl fill(const QString& templ, const QHash<QString, QString>& values);

// The template with each {name} of parts replaced by its text as it is (parts of an address, which
// may hold placeholders of their own); other placeholders stay.
QString insertParts(const QString& templ, const QHash<QString, QString>& parts);

// The template with its scheme, host and port replaced by server's ("https://host:port").
QString withServer(const QString& templ, const QString& server);

} // namespace UrlTemplate
