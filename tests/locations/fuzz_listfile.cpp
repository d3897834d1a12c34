// libFuzzer target for the list file reader. Any bytes must read without a crash, the same
// whatever the chunk size, and, where the encoding is clear, the same as a plain whole-text
// reading: Qt's own UTF-8 and UTF-16 decoding (ICU's for Windows-1252), then records cut at
// CR LF or CR and split at LF.
#include "locations/ListFile.h"

#include <QStringDecoder>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

QStringList plainRecords(const QString& text)
{
    QStringList out;
    qsizetype i = 0;
    while (i < text.size()) {
        qsizetype end = i;
        while (end < text.size() && text[end] != u'\r')
            ++end;
        out += text.mid(i, end - i).split(u'\n');
        i = end;
        if (i < text.size() && ++i < text.size() && text[i] == u'\n')
            ++i;
    }
    return out;
}

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "list reader disagrees: %s\n", what);
    std::abort();
}

bool isUtf8(QByteArrayView bytes)
{
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

// Text without unpaired surrogates, or nothing when it has one.
std::optional<QString> wellFormedUtf16(QByteArrayView bytes, bool little)
{
    if (bytes.size() % 2)
        return std::nullopt;
    QString text(bytes.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const auto a = static_cast<unsigned char>(bytes[2 * i]),
                   b = static_cast<unsigned char>(bytes[2 * i + 1]);
        text[i] = QChar(char16_t(little ? (a | b << 8) : (a << 8 | b)));
    }
    if (QString::fromUtf8(text.toUtf8()) != text)
        return std::nullopt;
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QStringList whole = ListLocations(bytes);

    for (qsizetype chunk : {1, 2, 3, 7, 64})
        if (ListLocations(bytes, chunk) != whole)
            fail("chunk size changes the result");
    for (const QString& location : whole)
        if (location.contains(u'\r') || location.contains(u'\n'))
            fail("line end inside a location");

    std::optional<QString> expected;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        if (isUtf8(bytes.sliced(3)))
            expected = QString::fromUtf8(bytes.sliced(3));
    } else if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        expected = wellFormedUtf16(bytes.sliced(2), bytes.startsWith("\xFF\xFE"));
    } else if (isUtf8(bytes)) {
        expected = QString::fromUtf8(bytes);
    } else {
        static QStringDecoder cp1252("windows-1252");
        if (cp1252.isValid())
            expected = cp1252.decode(bytes);
    }
    if (expected && plainRecords(*expected) != whole)
        fail("differs from a plain reading of the whole text");
    return 0;
}
