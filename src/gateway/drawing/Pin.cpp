#include "Pin.h"

#include <QPainter>
#include <QPainterPath>

void drawPin(QImage& picture, QPoint tip, int scale)
{
    if (picture.isNull()) {
        return;
    }
    if (picture.format() != QImage::Format_RGB32 && picture.format() != QImage::Format_ARGB32 &&
        picture.format() != QImage::Format_ARGB32_Premultiplied) {
        picture = picture.convertToFormat(QImage::Format_RGB32);
    }
    const qreal s = scale;
    const QPointF t(tip.x() + 0.5, tip.y() + 0.5);
    // A drop: a circle above the tip, narrowing to the tip.
    const qreal r = 9 * s;
    const QPointF middle(t.x(), t.y() - 22 * s);
    QPainterPath drop;
    drop.moveTo(t);
    drop.cubicTo(t.x() - 3 * s, t.y() - 8 * s, middle.x() - r, middle.y() + 6 * s, middle.x() - r,
                 middle.y());
    drop.arcTo(QRectF(middle.x() - r, middle.y() - r, 2 * r, 2 * r), 180, -180);
    drop.cubicTo(middle.x() + r, middle.y() + 6 * s, t.x() + 3 * s, t.y() - 8 * s, t.x(), t.y());
    drop.closeSubpath();

    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(60, 20, 20), 1.5 * s));
    p.setBrush(QColor::fromRgb(PinColour));
    p.drawPath(drop);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(middle, 3.5 * s, 3.5 * s);
    p.end();
    // The tip lands on the place's own pixel, whatever the smoothing did to it.
    picture.setPixel(tip, PinColour);
}
