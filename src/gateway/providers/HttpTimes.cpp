#include "HttpTimes.h"

#include <QList>
#include <QLocale>

#include <algorithm>

namespace HttpTimes {

namespace {

std::optional<qint64> seconds(const QByteArray& text)
{
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok);
    if (!ok || value < 0) {
        return std::nullopt;
    }
    return value;
}

} // namespace

QDateTime parseHttpDate(const QByteArray& text)
{
    // The weekday is left out: it says nothing the date does not, and a two-digit year would
    // make Qt check it against the wrong century.
    static const char* const formats[] = {
        "dd MMM yyyy HH:mm:ss 'GMT'", // IMF-fixdate
        "dd-MMM-yy HH:mm:ss 'GMT'",   // RFC 850
        "MMM d HH:mm:ss yyyy",        // asctime
    };
    QString s = QString::fromLatin1(text.trimmed()).simplified();
    s = s.mid(s.indexOf(u' ') + 1);
    const QLocale c = QLocale::c();
    for (const char* format : formats) {
        QDateTime t = c.toDateTime(s, QLatin1String(format));
        if (t.isValid()) {
            if (t.date().year() < 1970) {
                t = t.addYears(100);
            }
            return QDateTime(t.date(), t.time(), Qt::UTC);
        }
    }
    return {};
}

std::optional<std::chrono::seconds> freshFor(const QByteArray& cacheControl, const QByteArray& expires,
                                             const QByteArray& date, const QByteArray& age,
                                             std::chrono::seconds defaultLifetime)
{
    std::optional<qint64> maxAge;
    for (const QByteArray& part : cacheControl.split(',')) {
        const QByteArray directive = part.trimmed().toLower();
        if (directive == "no-store") {
            return std::nullopt;
        }
        if (directive == "no-cache") {
            maxAge = 0;
        } else if (directive.startsWith("max-age=") && !(maxAge && *maxAge == 0)) {
            maxAge = seconds(directive.mid(8).replace('"', ""));
            if (!maxAge) {
                maxAge = 0; // unreadable: treat as stale, as caches must
            }
        }
    }
    const qint64 already = seconds(age).value_or(0);
    if (maxAge) {
        return std::chrono::seconds(std::max<qint64>(0, *maxAge - already));
    }
    if (!expires.isEmpty()) {
        const QDateTime until = parseHttpDate(expires);
        if (!until.isValid()) {
            return std::chrono::seconds(0); // "Expires: 0" and the like mean already expired
        }
        QDateTime sent = parseHttpDate(date);
        if (!sent.isValid()) {
            sent = QDateTime::currentDateTimeUtc();
        }
        return std::chrono::seconds(std::max<qint64>(0, sent.secsTo(until) - already));
    }
    return defaultLifetime;
}

std::optional<std::chrono::milliseconds> retryAfter(const QByteArray& header, const QDateTime& now)
{
    if (header.trimmed().isEmpty()) {
        return std::nullopt;
    }
    if (const std::optional<qint64> s = seconds(header)) {
        return std::chrono::milliseconds(std::min<qint64>(*s, 365LL * 24 * 3600) * 1000);
    }
    const QDateTime at = parseHttpDate(header);
    if (!at.isValid()) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(std::max<qint64>(0, now.msecsTo(at)));
}

} // namespace HttpTimes
