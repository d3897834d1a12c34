#include "WholePng.h"

#include <QList>

#include <libdeflate.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

quint32 bigEndian32(const uchar* p)
{
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
}

bool named(const uchar* type, const char* name)
{
    return std::memcmp(type, name, 4) == 0;
}

uchar paeth(uchar a, uchar b, uchar c)
{
    const int p = int(a) + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Undoes one row's filter in place; above is the row above, already undone (zeros for the first).
bool unfilter(uchar filter, uchar* row, const uchar* above, qsizetype length, int bpp)
{
    switch (filter) {
    case 0:
        return true;
    case 1:
        for (qsizetype i = bpp; i < length; ++i)
            row[i] = uchar(row[i] + row[i - bpp]);
        return true;
    case 2:
        for (qsizetype i = 0; i < length; ++i)
            row[i] = uchar(row[i] + above[i]);
        return true;
    case 3:
        for (qsizetype i = 0; i < bpp; ++i)
            row[i] = uchar(row[i] + above[i] / 2);
        for (qsizetype i = bpp; i < length; ++i)
            row[i] = uchar(row[i] + (row[i - bpp] + above[i]) / 2);
        return true;
    case 4:
        for (qsizetype i = 0; i < bpp; ++i)
            row[i] = uchar(row[i] + above[i]);
        for (qsizetype i = bpp; i < length; ++i)
            row[i] = uchar(row[i] + paeth(row[i - bpp], above[i], above[i - bpp]));
        return true;
    default:
        return false;
    }
}

struct Decompressor
{
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

} // namespace

QImage decodeWholePng(const QByteArray& png, QSize maxSize)
{
    const auto* data = reinterpret_cast<const uchar*>(png.constData());
    const qsizetype size = png.size();
    if (size < 8 || std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) != 0) {
        return {};
    }
    int width = 0, height = 0, colourType = -1;
    QList<QRgb> palette;
    bool transparencyRead = false;
    QByteArray compressed;
    // Chunks in the order libpng insists on: header first, palette and transparency before the
    // image data, the image data in one run, the end last.
    enum
    {
        Header,
        BeforeData,
        InData,
        AfterData,
        Ended
    } stage = Header;
    for (qsizetype at = 8; stage != Ended;) {
        if (size - at < 12) {
            return {};
        }
        const qsizetype length = bigEndian32(data + at);
        if (length > size - at - 12) {
            return {};
        }
        const uchar* type = data + at + 4;
        const uchar* body = type + 4;
        if (!std::all_of(type, type + 4,
                         [](uchar c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); })) {
            return {};
        }
        const bool critical = !(type[0] & 0x20);
        if (critical && bigEndian32(body + length) != libdeflate_crc32(0, type, size_t(length) + 4)) {
            return {};
        }
        if (stage == Header) {
            // 8 bits a sample, deflate, the standard filters, not interlaced.
            if (!named(type, "IHDR") || length != 13) {
                return {};
            }
            width = int(bigEndian32(body));
            height = int(bigEndian32(body + 4));
            colourType = body[9];
            if (width <= 0 || height <= 0 || width > maxSize.width() || height > maxSize.height() ||
                body[8] != 8 || (colourType != 2 && colourType != 3 && colourType != 6) || body[10] != 0 ||
                body[11] != 0 || body[12] != 0) {
                return {};
            }
            stage = BeforeData;
        } else if (named(type, "PLTE")) {
            if (stage != BeforeData || !palette.isEmpty() || length == 0 || length % 3 != 0 || length > 768) {
                return {};
            }
            for (qsizetype i = 0; i < length; i += 3) {
                palette.append(qRgb(body[i], body[i + 1], body[i + 2]));
            }
        } else if (named(type, "tRNS")) {
            // Only a palette's alphas; a colour made transparent is left to Qt.
            if (stage != BeforeData || colourType != 3 || length > palette.size() || transparencyRead) {
                return {};
            }
            for (qsizetype i = 0; i < length; ++i) {
                palette[i] = qRgba(qRed(palette[i]), qGreen(palette[i]), qBlue(palette[i]), body[i]);
            }
            transparencyRead = true;
        } else if (named(type, "IDAT")) {
            if (stage == AfterData) {
                return {};
            }
            stage = InData;
            compressed.append(reinterpret_cast<const char*>(body), length);
        } else if (named(type, "IEND")) {
            if (stage != InData && stage != AfterData) {
                return {};
            }
            stage = Ended;
        } else if (critical || named(type, "gAMA") || named(type, "cHRM") || named(type, "sRGB") ||
                   named(type, "iCCP") || named(type, "cICP")) {
            return {}; // Qt's reader corrects the colours of a picture that names its colour space
        } else if (stage == InData) {
            stage = AfterData;
        }
        at += 12 + length;
    }
    if (colourType == 3 && palette.isEmpty()) {
        return {};
    }

    const int bpp = colourType == 3 ? 1 : colourType == 2 ? 3 : 4;
    const qsizetype stride = qsizetype(width) * bpp;
    QByteArray rows(qsizetype(height) * (stride + 1), Qt::Uninitialized);
    const std::unique_ptr<libdeflate_decompressor, Decompressor> inflater(libdeflate_alloc_decompressor());
    if (!inflater ||
        libdeflate_zlib_decompress(inflater.get(), compressed.constData(), size_t(compressed.size()),
                                   rows.data(), size_t(rows.size()), nullptr) != LIBDEFLATE_SUCCESS) {
        return {};
    }

    bool transparent = colourType == 6;
    QRgb colours[256] = {};
    for (qsizetype i = 0; i < palette.size(); ++i) {
        colours[i] = palette[i];
        transparent = transparent || qAlpha(palette[i]) != 255;
    }
    QImage image(width, height, transparent ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull()) {
        return {};
    }
    const QList<uchar> zeros(stride, 0);
    const uchar* above = zeros.constData();
    uchar highestIndex = 0;
    for (int y = 0; y < height; ++y) {
        uchar* row = reinterpret_cast<uchar*>(rows.data()) + y * (stride + 1);
        if (!unfilter(row[0], row + 1, above, stride, bpp)) {
            return {};
        }
        const uchar* in = row + 1;
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        if (colourType == 3) {
            for (int x = 0; x < width; ++x) {
                highestIndex = std::max(highestIndex, in[x]);
                out[x] = colours[in[x]];
            }
        } else if (colourType == 2) {
            for (int x = 0; x < width; ++x, in += 3) {
                out[x] = qRgb(in[0], in[1], in[2]);
            }
        } else {
            for (int x = 0; x < width; ++x, in += 4) {
                out[x] = qRgba(in[0], in[1], in[2], in[3]);
            }
        }
        above = row + 1;
    }
    // An index past the palette: what to show is Qt's to decide.
    if (colourType == 3 && highestIndex >= palette.size()) {
        return {};
    }
    return image;
}
