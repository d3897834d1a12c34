#include "platform/qt/QtImageFormat.h"

#include "platform/Files.h"
#include "platform/PlatformError.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// The format the file's first bytes announce, among those we decode; empty for anything else.
QByteArray SniffFormat(const QByteArray& head)
{
    if (head.startsWith("GIF87a") || head.startsWith("GIF89a"))
        return "gif";
    if (head.startsWith("\x89PNG\r\n\x1a\n"))
        return "png";
    if (head.startsWith("\xff\xd8\xff"))
        return "jpeg";
    if (head.startsWith("BM"))
        return "bmp";
    return {};
}

// Walks a GIF's blocks up to its trailer. Qt's reader paints whatever a cut-off GIF lacks as
// blank and calls it a picture; a map with a blank half is worse than a reported failure.
bool IsCompleteGif(const QByteArray& gif)
{
    const qsizetype size = gif.size();
    const auto colorTableSize = [](uchar flags) { return (flags & 0x80) ? 3 * (2 << (flags & 0x07)) : 0; };
    // Data sub-blocks: a length byte, that many bytes, until a zero length.
    const auto skipSubBlocks = [&](qsizetype at) -> qsizetype {
        while (at < size && gif[at] != 0)
            at += 1 + uchar(gif[at]);
        return at < size ? at + 1 : -1;
    };
    if (size < 13)
        return false;
    qsizetype at = 13 + colorTableSize(uchar(gif[10]));
    while (at >= 0 && at < size) {
        switch (uchar(gif[at])) {
        case 0x3b: // trailer
            return true;
        case 0x21: // extension: its label, then its sub-blocks
            at = skipSubBlocks(at + 2);
            break;
        case 0x2c: // image: descriptor, local colours, LZW code size, then the data
            if (at + 10 > size)
                return false;
            at = skipSubBlocks(at + 10 + colorTableSize(uchar(gif[at + 9])) + 1);
            break;
        default:
            return false;
        }
    }
    return false;
}

QString FormatNames(const QList<QByteArray>& formats)
{
    QStringList names;
    for (const QByteArray& f : formats)
        names << QString::fromLatin1(f).toUpper();
    return names.join(QStringLiteral(" or "));
}

quint32 LittleEndian32(const QByteArray& bytes, qsizetype at)
{
    return quint32(uchar(bytes[at])) | quint32(uchar(bytes[at + 1])) << 8 |
           quint32(uchar(bytes[at + 2])) << 16 | quint32(uchar(bytes[at + 3])) << 24;
}

// The pixels of a plain 24-bit bitmap (the kind the conversion before writes: an information
// header of 40 bytes, rows from the bottom up, no compression) as 24-bit RGB lines, the ones
// the JPEG writer takes: a copy and a swap of whole lines, where Qt's reader goes pixel by
// pixel and the JPEG writer then again. Null for any other bitmap, which Qt reads.
QImage Plain24BitPixels(const QByteArray& bytes)
{
    if (bytes.size() < 54 || LittleEndian32(bytes, 14) != 40)
        return {};
    const qint64 offset = LittleEndian32(bytes, 10);
    const qint64 width = qint32(LittleEndian32(bytes, 18));
    const qint64 height = qint32(LittleEndian32(bytes, 22));
    const quint32 planesAndBits = LittleEndian32(bytes, 26); // 1 plane, 24 bits a pixel
    const quint32 compression = LittleEndian32(bytes, 30);
    const qint64 stride = (width * 3 + 3) & ~qint64(3);
    if (planesAndBits != (24u << 16 | 1u) || compression != 0 || width <= 0 || height <= 0 || width > 65535 ||
        height > 65535 || offset < 54 || offset + stride * height > bytes.size() ||
        width * height * 4 > qint64(QImageReader::allocationLimit()) * 1024 * 1024)
        return {};
    // Stored blue first: read as red first, then swapped.
    const QImage stored(reinterpret_cast<const uchar*>(bytes.constData() + offset), int(width), int(height),
                        stride, QImage::Format_RGB888);
    QImage image = stored.mirrored();
    image.rgbSwap();
    return image;
}

// Reads the image at path, accepting only the given formats. A plain 24-bit bitmap comes as
// 24-bit RGB when lines24 is set.
QImage Decode(const QString& path, const QList<QByteArray>& accepted, bool lines24 = false)
{
    CheckPath(path, QStringLiteral("Cannot open the image file"));
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        throw PlatformError(
            QStringLiteral("Cannot open the image file \"%1\": %2").arg(ShownPath(path), file.errorString()));
    // Read in one piece: the decoders ask for a line at a time, each a call into the system.
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw PlatformError(
            QStringLiteral("Cannot read the image file \"%1\": %2").arg(ShownPath(path), file.errorString()));
    if (bytes.isEmpty())
        throw PlatformError(QStringLiteral("The image file \"%1\" is empty").arg(ShownPath(path)));
    const QByteArray format = SniffFormat(bytes);
    if (!accepted.contains(format))
        throw PlatformError(
            QStringLiteral("The file \"%1\" is not a %2 image").arg(ShownPath(path), FormatNames(accepted)));

    if (format == "gif" && !IsCompleteGif(bytes))
        throw PlatformError(
            QStringLiteral("The GIF image \"%1\" is cut short: part of its picture or its end "
                           "mark is missing")
                .arg(ShownPath(path)));

    if (format == "bmp" && lines24)
        if (QImage lines = Plain24BitPixels(bytes); !lines.isNull())
            return lines;

    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    reader.setAutoDetectImageFormat(false);
    // A header can promise any size; refuse what Qt would refuse to allocate before decoding.
    const QSize size = reader.size();
    const qint64 limit = qint64(QImageReader::allocationLimit()) * 1024 * 1024;
    if (size.isValid() && limit > 0 && qint64(size.width()) * size.height() * 4 > limit)
        throw PlatformError(
            QStringLiteral("The image \"%1\" declares %2 x %3 pixels, more than %4 MB of memory")
                .arg(ShownPath(path))
                .arg(size.width())
                .arg(size.height())
                .arg(QImageReader::allocationLimit()));
    QImage image;
    if (!reader.read(&image) || image.isNull())
        throw PlatformError(
            QStringLiteral("Cannot read the image \"%1\": %2").arg(ShownPath(path), reader.errorString()));
    return image;
}

// Encoded in memory and written in one piece, for the same reason as the reading.
QByteArray Encode(const QImage& image, const QByteArray& format, int quality, const QString& path)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    if (!writer.write(image))
        throw PlatformError(
            QStringLiteral("Cannot write \"%1\": %2").arg(ShownPath(path), writer.errorString()));
    return bytes;
}

void WriteEncoded(QIODevice& file, const QString& path, const QByteArray& bytes)
{
    if (file.write(bytes) != bytes.size())
        throw PlatformError(
            QStringLiteral("Cannot write \"%1\": %2").arg(ShownPath(path), file.errorString()));
}

} // namespace

QtImageFormat::QtImageFormat()
{
#ifdef __GLIBC__
    // Every location takes the same few megabytes of pictures and work-file bytes and gives them
    // back. By default glibc returns them to the system at once and the next location faults them
    // in again, page by page: a sixth of a location's local work. Kept, they cost a few megabytes.
    mallopt(M_MMAP_THRESHOLD, 16 << 20);
    mallopt(M_TRIM_THRESHOLD, 32 << 20);
#endif
}

void QtImageFormat::imageToBitmap(const QString& sourcePath, const QString& bitmapPath)
{
    const QImage image = Decode(sourcePath, {"gif", "png", "jpeg", "bmp"});
    // The bitmap is a work file: whole or absent, but not worth a wait for the disk.
    WriteWholeFile(bitmapPath, ReplacingFile::Kind::Work, [&](QIODevice& file) {
        WriteEncoded(file, bitmapPath, Encode(image, "bmp", -1, bitmapPath));
    });
}

void QtImageFormat::bitmapToJpeg(const QString& bitmapPath, const QString& jpegPath, int quality)
{
    QImage image = Decode(bitmapPath, {"bmp"}, true);
    // Qt's JPEG writer takes 24-bit lines as they are and copies every other kind line by line:
    // one conversion of the whole picture beforehand saves a fifth of the time, with the same bytes.
    if (image.format() == QImage::Format_RGB32)
        image.convertTo(QImage::Format_RGB888);
    // The result: whole or absent, on disk before it takes its name.
    WriteWholeFile(jpegPath, ReplacingFile::Kind::Result, [&](QIODevice& file) {
        WriteEncoded(file, jpegPath, Encode(image, "jpeg", quality, jpegPath));
    });
}
