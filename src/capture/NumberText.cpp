#include "capture/NumberText.h"

#include <QByteArray>
#include <QLocale>

#include <cfloat>
#include <cmath>
#include <limits>

namespace {

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') ||
           c == QLatin1Char('\r');
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Collects the longest number at the start of text, as ASCII for strtod. With skipBlanks,
// blanks inside are ignored (the leading-value rule); otherwise only around it.
QByteArray numberPrefix(const QString& text, bool skipBlanks, qsizetype* consumed)
{
    QByteArray out;
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto skip = [&] {
        while (i < n && isBlank(text[i]))
            ++i;
    };
    auto advance = [&] {
        ++i;
        if (skipBlanks)
            skip();
    };
    skip();
    // Each takes what it can at i into to; takeDigits says whether there was any digit.
    auto takeSign = [&](QByteArray& to) {
        if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
            to += text[i].toLatin1();
            advance();
        }
    };
    auto takeDigits = [&](QByteArray& to) {
        bool any = false;
        for (; i < n && isDigit(text[i]); any = true) {
            to += text[i].toLatin1();
            advance();
        }
        return any;
    };
    takeSign(out);
    bool digits = takeDigits(out);
    if (i < n && text[i] == QLatin1Char('.')) {
        out += '.';
        advance();
        digits = takeDigits(out) || digits;
    }
    if (!digits) {
        *consumed = 0;
        return {};
    }
    qsizetype beforeExponent = i;
    QByteArray exponent;
    if (i < n && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
        exponent += 'e';
        advance();
        takeSign(exponent);
        if (takeDigits(exponent))
            out += exponent;
        else
            i = beforeExponent; // "2e" is 2 followed by something that is not part of it
    }
    *consumed = i;
    return out;
}

double toDouble(const QByteArray& ascii)
{
    if (ascii.isEmpty())
        return 0;
    // The C locale: a "." is the decimal point whatever the user's settings say.
    bool ok = false;
    const double value = QLocale::c().toDouble(QString::fromLatin1(ascii), &ok);
    if (std::isinf(value))
        return value > 0 ? DBL_MAX : -DBL_MAX;
    return ok ? value : 0.0; // too small to hold: zero
}

} // namespace

bool IsNumeric(const QString& text)
{
    qsizetype consumed = 0;
    const QByteArray number = numberPrefix(text, false, &consumed);
    if (number.isEmpty())
        return false;
    while (consumed < text.size() && isBlank(text[consumed]))
        ++consumed;
    return consumed == text.size();
}

double LeadingValue(const QString& text)
{
    qsizetype consumed = 0;
    return toDouble(numberPrefix(text, true, &consumed));
}

std::optional<int> WholeNumber(const QString& text)
{
    if (!IsNumeric(text))
        return std::nullopt;
    qsizetype consumed = 0;
    const double value =
        std::nearbyint(toDouble(numberPrefix(text, false, &consumed))); // rounds half to even
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(value);
}

QString DecimalText(double value)
{
    if (value == std::trunc(value) && std::fabs(value) < 1e15)
        return QString::number(static_cast<qint64>(value));
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}
