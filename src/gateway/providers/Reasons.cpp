#include "Reasons.h"

namespace Reasons {

namespace {
constexpr qsizetype MaxQuoted = 60;
constexpr qsizetype MaxPhrase = 300;

QString oneLine(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c.isSpace()) {
            out += u' ';
        } else if (c.isPrint()) {
            out += c;
        }
    }
    return out.simplified();
}
} // namespace

QString quoted(const QString& search)
{
    QString text = oneLine(search);
    if (text.size() > MaxQuoted) {
        text = text.left(MaxQuoted - 3) + QStringLiteral("...");
    }
    return u'"' + text + u'"';
}

QByteArray toPhrase(const QString& text, const QString& key)
{
    QString line = oneLine(text);
    if (!key.isEmpty()) {
        line.replace(key, QStringLiteral("***"));
    }
    QByteArray out;
    out.reserve(line.size());
    for (const QChar c : line) {
        out += c.unicode() < 0x100 ? char(c.unicode()) : '?';
    }
    if (!key.isEmpty()) {
        // The key might only appear once the text is narrowed to Latin-1.
        out.replace(toPhrase(key), "***");
    }
    return out.left(MaxPhrase);
}

QString who(Who w)
{
    return w == Who::Geocoder ? QStringLiteral("The geocoder") : QStringLiteral("The map provider");
}

} // namespace Reasons
