#include "Pictures.h"

#include "WholePng.h"

#include <QBuffer>
#include <QImageReader>
#include <QSemaphore>
#include <QThreadPool>

#include <algorithm>
#include <atomic>

namespace {

// The last bytes every complete file of the format ends with (give or take padding).
bool endsWhole(const QByteArray& body, const QByteArray& format)
{
    const QByteArray tail = body.right(64);
    if (format == "png") {
        return tail.contains("IEND");
    }
    if (format == "jpeg") {
        return tail.contains("\xff\xd9");
    }
    if (format == "gif") {
        return tail.contains('\x3b');
    }
    return true;
}

} // namespace

PictureCheck checkPicture(const QByteArray& body, const QByteArray& contentType, QSize maxSize,
                          Reasons::Who who, bool decode)
{
    PictureCheck out;
    const QString name = Reasons::who(who);
    if (body.isEmpty()) {
        out.problem = QStringLiteral("%1 sent an empty answer instead of a picture").arg(name);
        return out;
    }
    QBuffer buffer;
    buffer.setData(body);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    out.format = reader.format();
    if (out.format.isEmpty() || !reader.canRead()) {
        const QByteArray type = contentType.split(';').constFirst().trimmed();
        out.problem =
            type.isEmpty() || type.startsWith("image/")
                ? QStringLiteral("%1 sent something that is not a picture").arg(name)
                : QStringLiteral("%1 sent %2 instead of a picture").arg(name, QString::fromLatin1(type));
        out.format.clear();
        return out;
    }
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > maxSize.width() || size.height() > maxSize.height()) {
        out.problem = QStringLiteral("%1 sent a picture too large to use (%2 x %3)")
                          .arg(name)
                          .arg(size.width())
                          .arg(size.height());
        return out;
    }
    if (!endsWhole(body, out.format)) {
        out.problem = QStringLiteral("%1 sent a picture that is cut short").arg(name);
        return out;
    }
    if (decode && out.format == "png") {
        out.image = decodeWholePng(body, maxSize);
    }
    if (decode && out.image.isNull() && !reader.read(&out.image)) {
        out.problem = QStringLiteral("%1 sent a damaged picture").arg(name);
    }
    return out;
}

QByteArray pictureMimeType(const QByteArray& format)
{
    if (format == "jpeg" || format == "jpg") {
        return "image/jpeg";
    }
    return "image/" + format;
}

void inParallel(qsizetype count, const std::function<void(qsizetype)>& work)
{
    std::atomic<qsizetype> next{0};
    QSemaphore helpersDone;
    const auto drain = [&] {
        for (qsizetype i = next++; i < count; i = next++) {
            work(i);
        }
    };
    // Helpers only while the pool has threads to spare: when it is busy, this thread does it all.
    QThreadPool* pool = QThreadPool::globalInstance();
    const qsizetype wanted = std::min<qsizetype>(count - 1, pool->maxThreadCount());
    int helpers = 0;
    while (helpers < wanted && pool->tryStart([&] {
        drain();
        helpersDone.release();
    })) {
        ++helpers;
    }
    drain();
    helpersDone.acquire(helpers);
}
