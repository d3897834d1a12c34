// libFuzzer target for the gateway's own PNG decoding: any bytes, with each chunk's checksum made
// right so that damage reaches the decoding itself, are either left to Qt or decoded to exactly
// the pixels Qt's reader makes of them, without a crash or a leak.
// Run with --seeds DIR first to write small PNGs of each kind decoded to start from.
#include "Stitching.h"
#include "WholePng.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QtEndian>

#include <libdeflate.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    new QCoreApplication(*argc, *argv); // never destroyed: libFuzzer ends the process with exit()
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {}); // libpng's warnings
    if (*argc == 3 && std::strcmp((*argv)[1], "--seeds") == 0) {
        const QString folder = QString::fromLocal8Bit((*argv)[2]);
        QDir().mkpath(folder);
        QImage image(16, 9, QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, qRgba(x * 16, y * 28, (x * y) % 7 * 36, x == y ? 100 : 255));
        for (auto format : {QImage::Format_ARGB32, QImage::Format_RGB32, QImage::Format_Indexed8})
            image.convertToFormat(format).save(folder + QStringLiteral("/seed-%1.png").arg(int(format)));
        std::_Exit(0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QByteArray png(reinterpret_cast<const char*>(data), qsizetype(size));
    for (qsizetype at = 8; at + 12 <= png.size();) {
        const qsizetype length = qFromBigEndian<quint32>(png.constData() + at);
        if (length > png.size() - at - 12)
            break;
        const auto* typeAndBody = reinterpret_cast<const uchar*>(png.constData() + at + 4);
        qToBigEndian(quint32(libdeflate_crc32(0, typeAndBody, size_t(length) + 4)),
                     png.data() + at + 8 + length);
        at += 12 + length;
    }
    const QImage ours = decodeWholePng(png, QSize(1024, 1024));
    if (!ours.isNull() && asDrawn(ours) != asDrawn(QImage::fromData(png, "png"))) {
        std::fprintf(stderr, "decoded otherwise than Qt decodes it\n");
        std::abort();
    }
    return 0;
}
