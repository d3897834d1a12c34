#pragma once

// Reading list files: plain text, one location per line.
//
// A record ends at CR LF (one terminator) or at a lone CR; an LF inside a record splits it
// further. A terminator at the very end does not start an empty record, but a final LF does
// leave an empty location behind it. Nothing is trimmed; empty pieces are locations too.
//
// Text is UTF-8 unless the bytes are not valid UTF-8, in which case the file was written by a
// Windows program in its legacy code page and is read as Windows-1252. A UTF-8 byte-order mark
// is dropped; a UTF-16 one (Notepad's "Unicode") switches to UTF-16 of that byte order.
//
// Everything streams: a file is read in fixed-size chunks, and a character or a CR LF split
// between two chunks comes out the same as if the file had been read whole.

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>

class QIODevice;
class LocationList;
class WindowSystem;

enum class ListEncoding
{
    Utf8,
    Windows1252,
    Utf16LE,
    Utf16BE
};

// The encoding a byte-order mark at the start of the file announces, and the mark's length;
// no mark gives length 0 and leaves the choice between UTF-8 and Windows-1252 to the content.
struct ByteOrderMark
{
    ListEncoding encoding = ListEncoding::Utf8;
    int length = 0;
};
ByteOrderMark DetectByteOrderMark(QByteArrayView head);

// Turns the bytes of a list file into UTF-16 text, chunk by chunk. Malformed input (a broken
// UTF-8 sequence under a UTF-8 mark, an unpaired UTF-16 surrogate, an odd last byte) becomes
// U+FFFD, one per maximal malformed piece, so nothing is silently dropped.
class ListTextDecoder
{
public:
    explicit ListTextDecoder(ListEncoding encoding) : m_encoding(encoding) {}

    // Appends the text of these bytes to out.
    void decode(QByteArrayView bytes, QString& out);
    // Appends what an incomplete character left over at the end stands for.
    void finish(QString& out);
    // True once any malformed input was seen.
    bool hadErrors() const { return m_errors; }
    // True while the bytes so far end inside a character.
    bool midCharacter() const { return m_pending > 0 || m_oddByte >= 0 || m_highSurrogate != 0; }

private:
    char16_t* decodeUtf8(const unsigned char* p, const unsigned char* end, char16_t* o);
    char16_t* decodeUtf16(const unsigned char* p, const unsigned char* end, char16_t* o);
    char16_t* putUtf16Unit(char16_t unit, char16_t* o);

    ListEncoding m_encoding;
    bool m_errors = false;
    // UTF-8: the code point so far, how many continuation bytes are still due and the range
    // the next one must fall in (narrower after E0, ED, F0 and F4).
    char32_t m_codePoint = 0;
    int m_pending = 0;
    unsigned char m_low = 0x80;
    unsigned char m_high = 0xBF;
    // UTF-16: a first byte waiting for its partner, and a high surrogate waiting for its low one.
    int m_oddByte = -1;
    char16_t m_highSurrogate = 0;
};

// True when the whole byte stream is well-formed UTF-8; fed chunk by chunk.
class Utf8Validator
{
public:
    void feed(QByteArrayView bytes);
    // True once the bytes so far cannot be the start of UTF-8 text.
    bool hadErrors() const { return m_decoder.hadErrors(); }
    bool finish();

private:
    ListTextDecoder m_decoder{ListEncoding::Utf8};
    QString m_scratch;
};

// Cuts text into locations, chunk by chunk.
class RecordSplitter
{
public:
    // Appends to out every location this text completes.
    void feed(QStringView text, QStringList& out);
    // Appends the last location, if the text did not end with a record terminator.
    void finish(QStringList& out);

private:
    void push(QStringView tail, QStringList& out);

    QString m_carry;        // the start of a location begun in an earlier chunk
    bool m_open = false;    // a location is under way and will be appended at the end
    bool m_afterCr = false; // the last chunk ended in CR: an LF starting the next one belongs to it
};

// Reads a whole list from a device opened for reading, giving its locations in batches, in
// file order. Reads the device twice (a validation pass first) unless it starts with a
// byte-order mark, so it must be seekable. A read failure throws PlatformError after the
// locations completed before it have been given; without a mark, their encoding is judged on
// the bytes before the failure.
void ReadListLocations(QIODevice& device, const std::function<void(QStringList&&)>& deliver,
                       qsizetype chunkBytes = 1 << 16, qsizetype batchSize = 1 << 14);

// The locations of a list file held in memory, cut into chunks of the given size on the way.
QStringList ListLocations(QByteArrayView bytes, qsizetype chunkBytes = 1 << 16);

// Appends the locations of the list file at path to the list. A path that does not exist gets
// the "File not found" box; a folder, a file that is not a plain file and a file that cannot be
// opened or read throw PlatformError. Locations appended before a failure stay in the list.
void ReadListFile(WindowSystem& window, LocationList& list, const QString& path);
