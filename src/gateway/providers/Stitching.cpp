#include "Stitching.h"

#include <QCache>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>

#include <png.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <utility>

namespace {

const QColor Background(0xdd, 0xdd, 0xdd);

void appendTo(png_structp png, png_bytep data, size_t length)
{
    static_cast<QByteArray*>(png_get_io_ptr(png))
        ->append(reinterpret_cast<const char*>(data), qsizetype(length));
}

void flushNothing(png_structp) {}

// libpng reports a failure by jumping back to setjmp: nothing between may need destroying.
// rgb32 is Format_RGB32; its padding byte is dropped as each row is written.
bool writeRgbPng(const QImage& rgb32, int level, QByteArray* out)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) {
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, appendTo, flushNothing);
    png_set_IHDR(png, info, png_uint_32(rgb32.width()), png_uint_32(rgb32.height()), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // No row filters and zlib's fastest level: about twice as fast as trying every filter on each
    // row (what Qt's writer does), and on map pictures hardly larger.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png, level);
    png_write_info(png, info);
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    png_set_bgr(png);
    png_set_filler(png, 0, PNG_FILLER_AFTER);
#else
    png_set_filler(png, 0, PNG_FILLER_BEFORE);
#endif
    for (int y = 0; y < rgb32.height(); ++y) {
        png_write_row(png, rgb32.constScanLine(y));
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

QImage attributionBand(const QString& attribution, int width)
{
    const QString text = attribution.simplified();
    if (text.isEmpty() || width <= 0) {
        return {};
    }
    static QCache<QString, QImage> made(64);
    const QString key = QString::number(width) + QLatin1Char(' ') + text;
    if (const QImage* band = made.object(key)) {
        return *band;
    }
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    const QFontMetrics metrics(font);
    const int padding = 4;
    const QString shown = metrics.elidedText(text, Qt::ElideRight, width - 2 * padding);
    QImage band(metrics.horizontalAdvance(shown) + 2 * padding, metrics.height() + 2,
                QImage::Format_ARGB32_Premultiplied);
    band.fill(QColor(255, 255, 255, 200));
    QPainter painter(&band);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(font);
    painter.setPen(QColor(0x33, 0x33, 0x33));
    painter.drawText(band.rect(), Qt::AlignCenter, shown);
    painter.end();
    made.insert(key, new QImage(band));
    return band;
}

QImage asDrawn(QImage tile)
{
    if (!tile.isNull() && tile.format() != QImage::Format_RGB32 &&
        tile.format() != QImage::Format_ARGB32_Premultiplied) {
        tile.convertTo(tile.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    }
    return tile;
}

QImage stitchTiles(const TileCoverage& coverage, const QHash<TileId, QImage>& tiles, QSize size,
                   const QString& attribution)
{
    return stitchTilesWithBand(coverage, tiles, size, attributionBand(attribution, size.width()));
}

QImage stitchTilesWithBand(const TileCoverage& coverage, const QHash<TileId, QImage>& tiles, QSize size,
                           const QImage& band)
{
    // One canvas per thread, drawn on again once the last picture made on it has been let go (a
    // picture still held elsewhere is left alone: painting then works on a copy). Fresh memory of
    // this size costs more to touch for the first time than the drawing does.
    static thread_local QImage canvas;
    if (canvas.size() != size) {
        canvas = QImage(size, QImage::Format_RGB32);
    }
    QImage picture = std::exchange(canvas, QImage());
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
    if (!band.isNull()) {
        painter.drawImage(QPoint(size.width() - band.width(), size.height() - band.height()), band);
    }
    painter.end();
    canvas = picture;
    return picture;
}

QByteArray encodePng(const QImage& image, int level)
{
    if (image.isNull()) {
        return {};
    }
    const QImage rgb32 = image.convertToFormat(QImage::Format_RGB32); // no copy when it is already
    QByteArray bytes;
    bytes.reserve(qsizetype(rgb32.width()) * rgb32.height() * (level == 0 ? 3 : 1) + 1024);
    if (!writeRgbPng(rgb32, level, &bytes)) {
        return {};
    }
    return bytes;
}

void keepPictureMemory()
{
#ifdef __GLIBC__
    // Pictures and their encodings, a few megabytes each, come from the heap and stay there.
    mallopt(M_MMAP_THRESHOLD, 16 << 20);
    mallopt(M_TRIM_THRESHOLD, 32 << 20);
#endif
}
