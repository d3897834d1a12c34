#include "UrlTemplate.h"

#include <QRegularExpression>

namespace UrlTemplate {

namespace {

const QRegularExpression& placeholder()
{
    static const QRegularExpression re(QStringLiteral("\\{([A-Za-z_]+)\\}"));
    return re;
}

} // namespace

QString problem(const QString& templ, const QStringList& required, const QStringList& allowed)
{
    if (templ.trimmed().isEmpty()) {
        return QStringLiteral("is not set");
    }
    for (const QRegularExpressionMatch& m : placeholder().globalMatch(templ)) {
        if (!allowed.contains(m.captured(1))) {
            return QStringLiteral("holds the unknown placeholder %1").arg(m.captured(0));
        }
    }
    for (const QString& name : required) {
        if (!templ.contains(u'{' + name + u'}')) {
            return QStringLiteral("lacks the placeholder {%1}").arg(name);
        }
    }
    QHash<QString, QString> sample;
    for (const QString& name : allowed) {
        sample.insert(name, QStringLiteral("1"));
    }
    const QUrl url = fill(templ, sample);
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")) ||
        url.host().isEmpty()) {
        return QStringLiteral("is not an http:// or https:// address");
    }
    return {};
}

QUrl fill(const QString& templ, const QHash<QString, QString>& values)
{
    QString out;
    out.reserve(templ.size() + 64);
    qsizetype from = 0;
    for (const QRegularExpressionMatch& m : placeholder().globalMatch(templ)) {
        out += QStringView(templ).mid(from, m.capturedStart() - from);
        const auto it = values.constFind(m.captured(1));
        out += it == values.constEnd() ? m.captured(0) : QString::fromLatin1(QUrl::toPercentEncoding(*it));
        from = m.capturedEnd();
    }
    out += QStringView(templ).mid(from);
    return QUrl(out.trimmed(), QUrl::TolerantMode);
}

QString insertParts(const QString& templ, const QHash<QString, QString>& parts)
{
    QString out;
    qsizetype from = 0;
    for (const QRegularExpressionMatch& m : placeholder().globalMatch(templ)) {
        out += QStringView(templ).mid(from, m.capturedStart() - from);
        const auto it = parts.constFind(m.captured(1));
        out += it == parts.constEnd() ? m.captured(0) : *it;
        from = m.capturedEnd();
    }
    out += QStringView(templ).mid(from);
    return out;
}

QString withServer(const QString& templ, const QString& server)
{
    const qsizetype scheme = templ.indexOf(QLatin1String("://"));
    if (server.isEmpty() || scheme < 0) {
        return templ;
    }
    const qsizetype path = templ.indexOf(u'/', scheme + 3);
    return server + (path < 0 ? QString() : templ.mid(path));
}

} // namespace UrlTemplate
