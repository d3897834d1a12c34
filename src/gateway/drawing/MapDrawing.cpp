#include "MapDrawing.h"

#include <QFont>
#include <QPainter>
#include <QPolygon>

#include <algorithm>

namespace {

// A small deterministic generator: QRandomGenerator would do, but the picture must not depend
// on the Qt version's choice of algorithm.
class Dice
{
public:
    explicit Dice(const QByteArray& seedText)
    {
        for (const char c : seedText) {
            m_state = (m_state ^ static_cast<unsigned char>(c)) * 16777619u;
        }
        if (m_state == 0) {
            m_state = 1;
        }
    }
    quint32 next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return m_state;
    }
    int below(int bound) { return bound <= 0 ? 0 : static_cast<int>(next() % static_cast<quint32>(bound)); }

private:
    quint32 m_state = 2166136261u;
};

} // namespace

QImage drawMap(const QString& search, int zoomLevel, QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    if (image.isNull()) {
        return image;
    }
    Dice dice(search.toUtf8());
    const int w = size.width();
    const int h = size.height();

    // No antialiasing anywhere: the picture must stay within a GIF's 256 colours exactly.
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::TextAntialiasing, false);

    static const QColor land[] = {QColor(0xf2, 0xef, 0xe9), QColor(0xea, 0xe6, 0xd8),
                                  QColor(0xe8, 0xee, 0xe0), QColor(0xf0, 0xe8, 0xe0)};
    painter.fillRect(image.rect(), land[dice.below(4)]);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xc8, 0xe0, 0xb0));
    for (int i = 0; i < 3; ++i) {
        painter.drawRect(dice.below(w), dice.below(h), w / 8 + dice.below(w / 4 + 1),
                         h / 8 + dice.below(h / 4 + 1));
    }

    // A river across the map.
    QPolygon river;
    const int riverY = dice.below(h);
    for (int x = 0, y = riverY; x <= w + 40; x += 40) {
        river << QPoint(x, y);
        y += dice.below(41) - 20;
    }
    painter.setPen(QPen(QColor(0xa0, 0xc8, 0xf0), std::max(4, w / 40)));
    painter.setBrush(Qt::NoBrush);
    painter.drawPolyline(river);

    // Streets get farther apart as the zoom level grows, so every zoom looks different.
    const int spacing = std::clamp(20 + zoomLevel * 12, 8, 400);
    const int offsetX = dice.below(spacing);
    const int offsetY = dice.below(spacing);
    const QPen street(Qt::white, 3);
    const QPen mainRoad(QColor(0xf8, 0xd0, 0x60), 6);
    for (int i = 0, x = offsetX; x < w; ++i, x += spacing) {
        painter.setPen(i % 4 == 1 ? mainRoad : street);
        painter.drawLine(x, 0, x, h);
    }
    for (int i = 0, y = offsetY; y < h; ++i, y += spacing) {
        painter.setPen(i % 4 == 2 ? mainRoad : street);
        painter.drawLine(0, y, w, y);
    }

    // The searched place, marked in the middle.
    const QPoint centre(w / 2, h / 2);
    painter.setPen(QPen(QColor(0x80, 0x10, 0x10), 2));
    painter.setBrush(QColor(0xe0, 0x30, 0x30));
    painter.drawEllipse(centre, 8, 8);

    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(14);
    font.setStyleStrategy(QFont::NoAntialias);
    painter.setFont(font);
    const QString label = search.isEmpty() ? QStringLiteral("zoom %1").arg(zoomLevel)
                                           : QStringLiteral("%1 - zoom %2").arg(search).arg(zoomLevel);
    const QRect box(6, 6, std::max(0, w - 12), 22);
    painter.setPen(QColor(0x60, 0x60, 0x60));
    painter.setBrush(Qt::white);
    painter.drawRect(box);
    painter.setPen(Qt::black);
    painter.drawText(box.adjusted(6, 0, -6, 0), Qt::AlignVCenter | Qt::AlignLeft,
                     painter.fontMetrics().elidedText(label, Qt::ElideRight, std::max(0, box.width() - 12)));
    painter.end();
    return image;
}
