#include "DemoSource.h"

#include "MapDrawing.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

namespace {

QString cacheKey(const MapRequest& r)
{
    return QStringLiteral("%1x%2 %3 %4").arg(r.size.width()).arg(r.size.height()).arg(r.zoom).arg(r.search);
}

} // namespace

DemoSource::DemoSource(const QString& pageUrl, QObject* parent) : MapSource(parent), m_pageUrl(pageUrl) {}

QByteArray DemoSource::draw(const MapRequest& request, const QString& pageUrl)
{
    // The drawing counts its zoom the classic way, from the closest view.
    QImage image = drawMap(request.search, 17 - request.zoom, request.size);
    if (image.isNull()) {
        return {};
    }
    const int w = image.width();
    const int h = image.height();
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    // A large faint word across the map, so that no crop of it passes for a real one.
    QFont big(QStringLiteral("Liberation Sans"));
    big.setPixelSize(std::max(12, std::min(w, h) / 5));
    big.setBold(true);
    painter.save();
    painter.translate(w / 2.0, h / 2.0);
    painter.rotate(-30);
    painter.setFont(big);
    painter.setPen(QColor(200, 30, 30, 60));
    painter.drawText(QRect(-w, -h / 4, 2 * w, h / 2), Qt::AlignCenter, QStringLiteral("DEMO MAP"));
    painter.restore();

    // A band along the bottom saying what this is and where to change it.
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(std::max(8, std::min(14, h / 30)));
    const QFontMetrics metrics(font);
    const int lineHeight = metrics.height();
    const QRect band(0, h - 2 * lineHeight - 10, w, 2 * lineHeight + 10);
    painter.fillRect(band, QColor(40, 40, 40, 215));
    painter.setFont(font);
    painter.setPen(Qt::white);
    const QRect text = band.adjusted(8, 5, -8, -5);
    const QString first = caption(request);
    const QString second = QStringLiteral("Choose a real map provider at %1").arg(pageUrl);
    painter.drawText(QRect(text.left(), text.top(), text.width(), lineHeight),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     metrics.elidedText(first, Qt::ElideRight, text.width()));
    painter.drawText(QRect(text.left(), text.top() + lineHeight, text.width(), lineHeight),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     metrics.elidedText(second, Qt::ElideMiddle, text.width()));
    painter.end();

    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    // Light compression: the picture is decoded at once, and time matters more than bytes.
    return image.save(&buffer, "PNG", 80) ? png : QByteArray();
}

QString DemoSource::caption(const MapRequest& request)
{
    // The drawing is labelled with the request's zl, one less than the zoom chosen in Orrowdale.
    const int zl = 17 - request.zoom;
    return QStringLiteral("Demo map at Orrowdale zoom %1 (zl %2), not real map data (Orrowdale map gateway)")
        .arg(zl + 1)
        .arg(zl);
}

void DemoSource::render(const MapRequest& request, QDeadlineTimer, Done done)
{
    const QString key = cacheKey(request);
    auto answer = [](const QByteArray& png) {
        if (png.isEmpty()) {
            return MapAnswer::failure(500, "The demo map could not be drawn");
        }
        MapAnswer a;
        a.contentType = "image/png";
        a.body = png;
        return a;
    };
    if (const QByteArray* recent = m_recent.object(key)) {
        done(answer(*recent));
        return;
    }
    QtConcurrent::run([request, url = m_pageUrl] {
        return draw(request, url);
    }).then(this, [this, key, done, answer](const QByteArray& png) {
        if (!png.isEmpty()) {
            m_recent.insert(key, new QByteArray(png), static_cast<int>(png.size()));
        }
        done(answer(png));
    });
}
