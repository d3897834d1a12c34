#include "Coordinates.h"

#include <QRegularExpression>

#include <cmath>

std::optional<LatLon> parseCoordinates(const QString& text)
{
    static const QRegularExpression form(
        QStringLiteral("^\\s*([+-]?\\d{1,3}\\.\\d+)\\s*(?:,\\s*|\\s+)([+-]?\\d{1,3}\\.\\d+)\\s*$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch()) {
        return std::nullopt;
    }
    const LatLon place{m.captured(1).toDouble(), m.captured(2).toDouble()};
    if (std::abs(place.latitude) > 90 || std::abs(place.longitude) > 180) {
        return std::nullopt;
    }
    return place;
}

QString coordinatesText(const LatLon& place)
{
    // Seven decimals: about a centimetre, more than any geocoder gives.
    const auto number = [](double v) {
        QString s = QString::number(v, 'f', 7);
        while (s.endsWith(u'0')) {
            s.chop(1);
        }
        if (s.endsWith(u'.')) {
            s.chop(1);
        }
        return s == QLatin1String("-0") ? QStringLiteral("0") : s;
    };
    return number(place.latitude) + u',' + number(place.longitude);
}
