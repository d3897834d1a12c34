// Draws Orrowdale's artwork with QPainter: the window icon at 32, 48, 128 and 256 pixels
// (icons/orrowdale-<size>.png), the Windows program icon (icons/orrowdale.ico) and the hand pointer in the
// Windows cursor format (HAND-M.CUR).
#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtEndian>

#include <cstdio>

namespace {

// The icon, drawn on a 256-unit canvas and scaled: a folded map with a route, and a pin.
QImage icon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);

    QLinearGradient sky(0, 0, 0, 256);
    sky.setColorAt(0, QColor(0x2a, 0x9d, 0x8f));
    sky.setColorAt(1, QColor(0x1d, 0x5c, 0x63));
    p.setPen(Qt::NoPen);
    p.setBrush(sky);
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 44, 44);

    // Three map panels folded in a zigzag.
    const QPointF top[] = {{40, 78}, {100, 58}, {156, 78}, {216, 58}};
    const QPointF bottom[] = {{40, 214}, {100, 194}, {156, 214}, {216, 194}};
    const QColor panel[] = {QColor(0xf4, 0xec, 0xd8), QColor(0xe2, 0xd6, 0xb8), QColor(0xf4, 0xec, 0xd8)};
    for (int i = 0; i < 3; ++i) {
        QPainterPath path;
        path.moveTo(top[i]);
        path.lineTo(top[i + 1]);
        path.lineTo(bottom[i + 1]);
        path.lineTo(bottom[i]);
        path.closeSubpath();
        p.setBrush(panel[i]);
        p.drawPath(path);
    }
    // A dashed route across the panels.
    QPen route(QColor(0x26, 0x46, 0x53), 7, Qt::DashLine, Qt::RoundCap);
    p.setPen(route);
    p.setBrush(Qt::NoBrush);
    QPainterPath way;
    way.moveTo(56, 186);
    way.cubicTo(90, 150, 120, 190, 150, 150);
    p.drawPath(way);

    // The pin: a teardrop with its point on the end of the route.
    p.setPen(QPen(QColor(0x7a, 0x1c, 0x12), 5));
    p.setBrush(QColor(0xe7, 0x4c, 0x3c));
    QPainterPath pin;
    pin.moveTo(168, 152);
    pin.cubicTo(150, 122, 128, 104, 128, 80);
    pin.arcTo(QRectF(128, 40, 80, 80), 180, -180);
    pin.cubicTo(208, 104, 186, 122, 168, 152);
    p.drawPath(pin);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(168, 80), 15, 15);
    return image;
}

// A pointing hand, 32 by 32, its index fingertip at the hotspot.
constexpr int HotX = 12;
constexpr int HotY = 1;

QImage hand()
{
    QPainterPath shape;
    shape.addRoundedRect(QRectF(9.5, 1, 5, 17), 2.5, 2.5);  // index finger
    shape.addRoundedRect(QRectF(14, 10, 4.5, 9), 2.2, 2.2); // folded fingers
    shape.addRoundedRect(QRectF(18, 11, 4.5, 9), 2.2, 2.2);
    shape.addRoundedRect(QRectF(22, 12.5, 4.5, 8.5), 2.2, 2.2);
    shape.addRoundedRect(QRectF(9.5, 15, 17, 13.5), 4, 4); // palm
    QPainterPath thumb;
    thumb.moveTo(10, 17);
    thumb.lineTo(5.5, 13.5);
    thumb.cubicTo(3, 12, 1.5, 15, 3.5, 17.5);
    thumb.lineTo(10, 25);
    thumb.closeSubpath();
    shape = shape.united(thumb).simplified();

    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1.2));
    p.setBrush(Qt::white);
    p.drawPath(shape);
    // Knuckle lines.
    p.setPen(QPen(QColor(0x40, 0x40, 0x40), 0.8));
    p.drawLine(QPointF(14.5, 15), QPointF(14.5, 18));
    p.drawLine(QPointF(18.5, 15.5), QPointF(18.5, 19));
    p.drawLine(QPointF(22.5, 16.5), QPointF(22.5, 20));
    p.end();
    return image;
}

void put16(QByteArray& out, quint16 v)
{
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}

void put32(QByteArray& out, quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}

// One 32-bit image with its hotspot, as a Windows cursor file: the directory, one entry,
// then the bitmap (colour rows bottom-up, then the one-bit mask, height counted twice).
QByteArray cursorFile(const QImage& image, int hotX, int hotY)
{
    const int w = image.width();
    const int h = image.height();
    const int maskRow = ((w + 31) / 32) * 4;
    const quint32 bitmapSize = 40 + quint32(w * h * 4) + quint32(maskRow * h);

    QByteArray out;
    put16(out, 0);
    put16(out, 2); // cursor
    put16(out, 1);
    out.append(char(w));
    out.append(char(h));
    out.append(char(0));
    out.append(char(0));
    put16(out, quint16(hotX));
    put16(out, quint16(hotY));
    put32(out, bitmapSize);
    put32(out, 22);

    put32(out, 40);
    put32(out, quint32(w));
    put32(out, quint32(h * 2));
    put16(out, 1);
    put16(out, 32);
    put32(out, 0);
    put32(out, bitmapSize - 40);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    for (int y = h - 1; y >= 0; --y)
        for (int x = 0; x < w; ++x) {
            const QRgb c = image.pixel(x, y);
            out.append(char(qBlue(c)));
            out.append(char(qGreen(c)));
            out.append(char(qRed(c)));
            out.append(char(qAlpha(c)));
        }
    for (int y = h - 1; y >= 0; --y) {
        QByteArray row(maskRow, '\0');
        for (int x = 0; x < w; ++x)
            if (qAlpha(image.pixel(x, y)) == 0)
                row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
        out += row;
    }
    return out;
}

// The Windows program icon: one PNG-compressed image per size behind an icon directory.
QByteArray iconFile(const QList<int>& sizes)
{
    QList<QByteArray> images;
    for (int size : sizes) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        icon(size).save(&buffer, "PNG");
        images << png;
    }
    QByteArray out;
    put16(out, 0);
    put16(out, 1); // icon
    put16(out, quint16(sizes.size()));
    quint32 offset = 6 + 16 * quint32(sizes.size());
    for (qsizetype i = 0; i < sizes.size(); ++i) {
        out.append(char(sizes[i] & 0xff)); // 256 is written as 0
        out.append(char(sizes[i] & 0xff));
        out.append(char(0));
        out.append(char(0));
        put16(out, 1);
        put16(out, 32);
        put32(out, quint32(images[i].size()));
        put32(out, offset);
        offset += quint32(images[i].size());
    }
    for (const QByteArray& png : images)
        out += png;
    return out;
}

bool write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: orrowdale_artwork <resources folder>\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral("icons"))) {
        std::fprintf(stderr, "cannot create %s/icons\n", argv[1]);
        return 1;
    }
    for (int size : {32, 48, 128, 256}) {
        const QString path = dir.filePath(QStringLiteral("icons/orrowdale-%1.png").arg(size));
        if (!icon(size).save(path, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    if (!write(dir.filePath(QStringLiteral("icons/orrowdale.ico")), iconFile({16, 32, 48, 256}))) {
        std::fprintf(stderr, "cannot write the Windows icon\n");
        return 1;
    }
    if (!write(dir.filePath(QStringLiteral("HAND-M.CUR")), cursorFile(hand(), HotX, HotY))) {
        std::fprintf(stderr, "cannot write the hand pointer\n");
        return 1;
    }
    return 0;
}
