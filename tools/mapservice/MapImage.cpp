#include "MapImage.h"

#include <gif_lib.h>

#include <vector>

namespace {

int writeToByteArray(GifFileType* gif, const GifByteType* data, int length)
{
    static_cast<QByteArray*>(gif->UserData)->append(reinterpret_cast<const char*>(data), length);
    return length;
}

} // namespace

QByteArray encodeGif(const QImage& source)
{
    if (source.isNull()) {
        return {};
    }
    QImage indexed = source.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither);
    const QList<QRgb> table = indexed.colorTable();
    // giflib wants a power-of-two palette of at least two entries.
    int count = 2;
    while (count < table.size()) {
        count *= 2;
    }
    std::vector<GifColorType> colours(static_cast<std::size_t>(count), GifColorType{0, 0, 0});
    for (qsizetype i = 0; i < table.size(); ++i) {
        colours[static_cast<std::size_t>(i)] =
            GifColorType{static_cast<GifByteType>(qRed(table[i])), static_cast<GifByteType>(qGreen(table[i])),
                         static_cast<GifByteType>(qBlue(table[i]))};
    }
    ColorMapObject* palette = GifMakeMapObject(count, colours.data());
    if (!palette) {
        return {};
    }

    QByteArray out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, writeToByteArray, &error);
    const int w = indexed.width();
    const int h = indexed.height();
    bool ok = gif && EGifPutScreenDesc(gif, w, h, 8, 0, palette) == GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr) == GIF_OK;
    for (int y = 0; ok && y < h; ++y) {
        ok = EGifPutLine(gif, indexed.scanLine(y), w) == GIF_OK;
    }
    if (gif && EGifCloseFile(gif, &error) != GIF_OK) {
        ok = false;
    }
    GifFreeMapObject(palette);
    return ok ? out : QByteArray();
}

QByteArray oversizedGif()
{
    static const unsigned char bytes[] = {
        'G',  'I',  'F',  '8',  '9',  'a',  // signature
        0xFF, 0xFF, 0xFF, 0xFF,             // screen 65535 x 65535
        0x80, 0x00, 0x00,                   // two-colour palette follows, background 0
        0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, // black, white
        0x2C, 0x00, 0x00, 0x00, 0x00,       // image at 0,0 ...
        0xFF, 0xFF, 0xFF, 0xFF, 0x00,       // ... of 65535 x 65535, no local palette
        0x02, 0x01, 0x2C, 0x00,             // LZW: clear code, end code
        0x3B,                               // trailer
    };
    return QByteArray(reinterpret_cast<const char*>(bytes), sizeof bytes);
}
