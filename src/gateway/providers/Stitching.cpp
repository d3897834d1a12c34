#include "Stitching.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetrics>
#include <QImageWriter>
#include <QPainter>

namespace {

const QColor Background(0xdd, 0xdd, 0xdd);

void drawAttribution(QPainter& painter, QSize size, const QString& text)
{
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const int padding = 4;
    const QString shown = metrics.elidedText(text, Qt::ElideRight, size.width() - 2 * padding);
    const QRect band(size.width() - metrics.horizontalAdvance(shown) - 2 * padding,
                     size.height() - metrics.height() - 2, metrics.horizontalAdvance(shown) + 2 * padding,
                     metrics.height() + 2);
    painter.fillRect(band, QColor(255, 255, 255, 200));
    painter.setPen(QColor(0x33, 0x33, 0x33));
    painter.drawText(band, Qt::AlignCenter, shown);
}

} // namespace

QImage stitchTiles(const TileCoverage& coverage, const QHash<TileId, QImage>& tiles, QSize size,
                   const QString& attribution)
{
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(Background);
    QPainter painter(&picture);
    const QRect frame(QPoint(0, 0), size);
    for (const TilePlacement& p : coverage.placements) {
        const QImage tile = tiles.value(p.tile);
        const QRect target(p.topLeft, QSize(coverage.tileSize, coverage.tileSize));
        if (tile.isNull() || !frame.intersects(target)) {
            continue;
        }
        if (tile.size() == target.size()) {
            painter.drawImage(p.topLeft, tile);
        } else {
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(target, tile);
        }
    }
    const QString text = attribution.simplified();
    if (!text.isEmpty()) {
        painter.setRenderHint(QPainter::TextAntialiasing);
        drawAttribution(painter, size, text);
    }
    painter.end();
    return picture;
}

QByteArray encodePng(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    // Qt turns quality into zlib's level, (100 - quality) * 9 / 91: 89 gives level 1, several
    // times faster than the default for a few percent more bytes on map pictures.
    writer.setQuality(89);
    writer.write(image);
    return bytes;
}
