#include "locations/ListFile.h"

#include "capture/FileHelpers.h"
#include "locations/LocationList.h"
#include "platform/PlatformError.h"
#include "platform/WindowSystem.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <optional>
#include <utility>

namespace {

constexpr char16_t Replacement = 0xFFFD;

// Windows-1252 differs from Latin-1 only in 0x80..0x9F. The five codes Windows leaves
// undefined there map to the control characters of the same value, as Windows itself does.
constexpr char16_t Cp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                     0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                     0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool isHighSurrogate(char16_t u)
{
    return u >= 0xD800 && u <= 0xDBFF;
}
bool isLowSurrogate(char16_t u)
{
    return u >= 0xDC00 && u <= 0xDFFF;
}

// Reads until n bytes or the end; throws on a read failure.
qsizetype readFully(QIODevice& device, char* data, qsizetype n)
{
    qsizetype total = 0;
    while (total < n) {
        const qint64 got = device.read(data + total, n - total);
        if (got < 0)
            throw PlatformError(device.errorString());
        if (got == 0)
            break;
        total += got;
    }
    return total;
}

void seekTo(QIODevice& device, qint64 position)
{
    if (!device.seek(position))
        throw PlatformError(device.errorString());
}

} // namespace

ByteOrderMark DetectByteOrderMark(QByteArrayView head)
{
    if (head.startsWith("\xEF\xBB\xBF"))
        return {ListEncoding::Utf8, 3};
    if (head.startsWith("\xFF\xFE"))
        return {ListEncoding::Utf16LE, 2};
    if (head.startsWith("\xFE\xFF"))
        return {ListEncoding::Utf16BE, 2};
    return {};
}

void ListTextDecoder::decode(QByteArrayView bytes, QString& out)
{
    if (bytes.isEmpty())
        return;
    // No encoding gives more than one unit per byte, except for the one character an earlier
    // chunk left unfinished.
    const qsizetype start = out.size();
    out.resize(start + bytes.size() + 2);
    char16_t* const base = reinterpret_cast<char16_t*>(out.data());
    char16_t* o = base + start;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    switch (m_encoding) {
    case ListEncoding::Utf8:
        o = decodeUtf8(p, end, o);
        break;
    case ListEncoding::Windows1252:
        for (; p < end; ++p)
            *o++ = (*p >= 0x80 && *p < 0xA0) ? Cp1252High[*p - 0x80] : char16_t(*p);
        break;
    case ListEncoding::Utf16LE:
    case ListEncoding::Utf16BE:
        o = decodeUtf16(p, end, o);
        break;
    }
    out.resize(o - base);
}

char16_t* ListTextDecoder::decodeUtf8(const unsigned char* p, const unsigned char* end, char16_t* o)
{
    while (p < end) {
        if (m_pending == 0) {
            while (p < end && *p < 0x80)
                *o++ = *p++;
            if (p == end)
                break;
            const unsigned char b = *p++;
            if (b >= 0xC2 && b <= 0xDF) {
                m_pending = 1;
                m_codePoint = b & 0x1F;
            } else if (b >= 0xE0 && b <= 0xEF) {
                m_pending = 2;
                m_codePoint = b & 0x0F;
                if (b == 0xE0)
                    m_low = 0xA0; // no overlong forms
                else if (b == 0xED)
                    m_high = 0x9F; // no surrogates
            } else if (b >= 0xF0 && b <= 0xF4) {
                m_pending = 3;
                m_codePoint = b & 0x07;
                if (b == 0xF0)
                    m_low = 0x90;
                else if (b == 0xF4)
                    m_high = 0x8F; // nothing above U+10FFFF
            } else {
                m_errors = true;
                *o++ = Replacement;
            }
            continue;
        }
        const unsigned char b = *p;
        if (b < m_low || b > m_high) {
            // The sequence broke off; the byte that broke it starts afresh.
            m_errors = true;
            *o++ = Replacement;
            m_pending = 0;
            m_low = 0x80;
            m_high = 0xBF;
            continue;
        }
        ++p;
        m_low = 0x80;
        m_high = 0xBF;
        m_codePoint = (m_codePoint << 6) | (b & 0x3F);
        if (--m_pending == 0) {
            if (m_codePoint >= 0x10000) {
                *o++ = char16_t(0xD800 + ((m_codePoint - 0x10000) >> 10));
                *o++ = char16_t(0xDC00 + ((m_codePoint - 0x10000) & 0x3FF));
            } else {
                *o++ = char16_t(m_codePoint);
            }
        }
    }
    return o;
}

char16_t* ListTextDecoder::decodeUtf16(const unsigned char* p, const unsigned char* end, char16_t* o)
{
    const bool little = m_encoding == ListEncoding::Utf16LE;
    auto unit = [little](unsigned first, unsigned second) {
        return char16_t(little ? (first | second << 8) : (first << 8 | second));
    };
    if (m_oddByte >= 0 && p < end) {
        o = putUtf16Unit(unit(unsigned(m_oddByte), *p++), o);
        m_oddByte = -1;
    }
    for (; end - p >= 2; p += 2)
        o = putUtf16Unit(unit(p[0], p[1]), o);
    if (p < end)
        m_oddByte = *p;
    return o;
}

char16_t* ListTextDecoder::putUtf16Unit(char16_t unit, char16_t* o)
{
    if (m_highSurrogate) {
        if (isLowSurrogate(unit)) {
            *o++ = std::exchange(m_highSurrogate, char16_t(0));
            *o++ = unit;
            return o;
        }
        m_errors = true;
        *o++ = Replacement;
        m_highSurrogate = 0;
    }
    if (isHighSurrogate(unit)) {
        m_highSurrogate = unit;
    } else if (isLowSurrogate(unit)) {
        m_errors = true;
        *o++ = Replacement;
    } else {
        *o++ = unit;
    }
    return o;
}

void ListTextDecoder::finish(QString& out)
{
    const bool unfinished = m_pending > 0 || m_highSurrogate != 0;
    const bool oddByte = m_oddByte >= 0;
    if (unfinished)
        out.append(QChar(Replacement));
    if (oddByte)
        out.append(QChar(Replacement));
    m_errors = m_errors || unfinished || oddByte;
    m_pending = 0;
    m_low = 0x80;
    m_high = 0xBF;
    m_highSurrogate = 0;
    m_oddByte = -1;
}

void Utf8Validator::feed(QByteArrayView bytes)
{
    // Most lists are plain ASCII: a chunk of it between whole characters needs no decoding.
    if (!m_decoder.midCharacter()) {
        qsizetype ascii = 0;
        while (ascii < bytes.size() && static_cast<unsigned char>(bytes[ascii]) < 0x80)
            ++ascii;
        bytes = bytes.sliced(ascii);
    }
    m_scratch.resize(0);
    m_decoder.decode(bytes, m_scratch);
}

bool Utf8Validator::finish()
{
    m_scratch.resize(0);
    m_decoder.finish(m_scratch);
    return !m_decoder.hadErrors();
}

void RecordSplitter::push(QStringView tail, QStringList& out)
{
    if (m_carry.isEmpty()) {
        out.append(tail.toString());
    } else {
        m_carry.append(tail);
        out.append(std::exchange(m_carry, QString()));
    }
}

void RecordSplitter::feed(QStringView text, QStringList& out)
{
    const char16_t* d = text.utf16();
    const qsizetype n = text.size();
    qsizetype i = 0;
    if (m_afterCr && n > 0) {
        m_afterCr = false;
        if (d[0] == u'\n')
            i = 1;
    }
    qsizetype start = i;
    for (; i < n; ++i) {
        const char16_t c = d[i];
        if (c == u'\n') {
            // Splits the record; what follows, even nothing, is one more location.
            push(text.sliced(start, i - start), out);
            m_open = true;
            start = i + 1;
        } else if (c == u'\r') {
            push(text.sliced(start, i - start), out);
            m_open = false;
            if (i + 1 < n) {
                if (d[i + 1] == u'\n')
                    ++i;
            } else {
                m_afterCr = true;
            }
            start = i + 1;
        }
    }
    if (start < n) {
        // Grow by doubling: a line without an end may run to the end of a very large file.
        const qsizetype needed = m_carry.size() + (n - start);
        if (needed > m_carry.capacity())
            m_carry.reserve(std::max(needed, 2 * m_carry.capacity()));
        m_carry.append(text.sliced(start));
        m_open = true;
    }
}

void RecordSplitter::finish(QStringList& out)
{
    if (m_open)
        push(QStringView(), out);
    m_open = false;
    m_afterCr = false;
    m_carry = QString();
}

void ReadListLocations(QIODevice& device, const std::function<void(QStringList&&)>& deliver,
                       qsizetype chunkBytes, qsizetype batchSize)
{
    chunkBytes = std::max<qsizetype>(chunkBytes, 1);
    QByteArray chunk(std::max<qsizetype>(chunkBytes, 3), Qt::Uninitialized);

    const qint64 origin = device.pos();
    const qsizetype headSize = readFully(device, chunk.data(), 3);
    const ByteOrderMark mark = DetectByteOrderMark(QByteArrayView(chunk.data(), headSize));
    ListEncoding encoding = mark.encoding;
    // Without a mark, a read failure in the first pass still leaves the bytes before it to be
    // read as locations: the second pass stops where the first one failed, then rethrows.
    qint64 readable = -1;
    std::optional<PlatformError> failure;
    if (mark.length == 0) {
        // Whether the text is UTF-8 is known only at its end, so look at all of it first.
        Utf8Validator validator;
        validator.feed(QByteArrayView(chunk.data(), headSize));
        qint64 validated = headSize;
        for (;;) {
            const qint64 got = device.read(chunk.data(), chunkBytes);
            if (got < 0) {
                // Judged on what could be read: the best guess for the locations before it.
                failure.emplace(device.errorString());
                readable = validated;
                break;
            }
            if (got == 0)
                break;
            validator.feed(QByteArrayView(chunk.data(), got));
            validated += got;
        }
        if (validator.hadErrors() || (!failure && !validator.finish()))
            encoding = ListEncoding::Windows1252;
    }
    seekTo(device, origin + mark.length);

    ListTextDecoder decoder(encoding);
    RecordSplitter splitter;
    QString text;
    QStringList batch;
    auto deliverBatch = [&] {
        if (!batch.isEmpty())
            deliver(std::exchange(batch, QStringList()));
    };
    for (qint64 left = readable;;) {
        const qint64 want = left < 0 ? chunkBytes : std::min<qint64>(chunkBytes, left);
        const qint64 got = want == 0 ? 0 : device.read(chunk.data(), want);
        if (got < 0) {
            // Keep what was read before the failure; the broken-off line is not a location.
            deliverBatch();
            throw PlatformError(device.errorString());
        }
        if (got == 0)
            break;
        if (left > 0)
            left -= got;
        text.resize(0);
        decoder.decode(QByteArrayView(chunk.data(), got), text);
        splitter.feed(text, batch);
        if (batch.size() >= batchSize)
            deliverBatch();
    }
    if (failure) {
        deliverBatch();
        throw *failure;
    }
    text.resize(0);
    decoder.finish(text);
    splitter.feed(text, batch);
    splitter.finish(batch);
    deliverBatch();
}

QStringList ListLocations(QByteArrayView bytes, qsizetype chunkBytes)
{
    QByteArray data = QByteArray::fromRawData(bytes.data(), bytes.size());
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QStringList locations;
    ReadListLocations(
        buffer, [&](QStringList&& batch) { locations.append(std::move(batch)); }, chunkBytes);
    return locations;
}

void ReadListFile(WindowSystem& window, LocationList& list, const QString& path)
{
    if (!FileExists(path)) {
        window.messageBox(QStringLiteral("File not found"), MessageStyle::OkOnly);
        return;
    }
    const QString shown = QDir::toNativeSeparators(path);
    const QFileInfo info(path);
    if (info.isDir())
        throw PlatformError(QStringLiteral("%1 is a folder, not a list file").arg(shown));
    // A pipe or a device could block for ever or never end.
    if (!info.isFile())
        throw PlatformError(QStringLiteral("%1 is not a plain file").arg(shown));

    // Closed by its destructor on every way out.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw PlatformError(
            QStringLiteral("Cannot open the list file %1: %2").arg(shown, file.errorString()));
    try {
        ReadListLocations(file, [&](QStringList&& batch) { list.appendMany(std::move(batch)); });
    } catch (const PlatformError& e) {
        throw PlatformError(QStringLiteral("Cannot read the list file %1: %2").arg(shown, e.description()));
    }
}
