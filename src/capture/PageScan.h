#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class QIODevice;

// Reading a fetched map page and cutting the map image's address out of it. The page is read
// one byte per character: a carriage return, or a carriage return and a line feed, ends a line;
// a line feed alone stays in the line's text.

class PageLines
{
public:
    explicit PageLines(QIODevice& page);

    // True when every line has been read. Throws PlatformError when the page can't be read.
    bool atEnd();
    // The next line without its ending. Throws PlatformError when the page can't be read.
    QByteArray next();

private:
    bool fill();

    QIODevice& m_page;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    bool m_afterCr = false; // a line feed right after a carriage return belongs to its ending
    bool m_exhausted = false;
};

// The text that marks the image tag: "img src=", the base URL and "/mapdata?". Matched
// exactly, so only an unquoted source attribute counts.
QByteArray ImageReferencePattern(const QString& baseUrl);

// Where the first "style=" at or after from stands in the line; -1 when there is none.
qsizetype FindStyle(QByteArrayView line, qsizetype from);

// The characters of the line from start up to two before the "style=" at styleAt (the blank
// that separates the attributes is left out). Throws PlatformError when that span is negative,
// which includes a line without "style=" (styleAt -1).
QString CutImageReference(QByteArrayView line, qsizetype start, qsizetype styleAt);
