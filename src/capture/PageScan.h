#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class QIODevice;

// Reading a fetched map page and cutting the map image's address out of it. The page is read
// one byte per character: a carriage return, or a carriage return and a line feed, ends a line;
// a line feed alone stays in the line's text.
//
// Every step costs time in proportion to the page: the page is read once, lines are views into
// it, and each search looks at a byte a bounded number of times, so a page of 100 MB without a
// single carriage return (one long line) is no worse than many short lines.

class PageLines
{
public:
    explicit PageLines(QIODevice& page);

    // True when every line has been read. Throws PlatformError when the page can't be read.
    bool atEnd();
    // The next line without its ending; valid as long as this reader. Throws PlatformError when
    // the page can't be read.
    QByteArrayView next();

private:
    void load();

    QIODevice& m_page;
    QByteArray m_text;
    bool m_loaded = false;
    qsizetype m_pos = 0;
};

// The text that marks the image tag: "img src=", the base URL and "/mapdata?". Matched
// exactly, so only an unquoted source attribute counts.
QByteArray ImageReferencePattern(const QString& baseUrl);

// Where the first occurrence of pattern stands in the line; -1 when there is none.
qsizetype FindPattern(QByteArrayView line, QByteArrayView pattern);

// Where the first "style=" at or after from stands in the line; -1 when there is none.
qsizetype FindStyle(QByteArrayView line, qsizetype from);

// The characters of the line from start up to two before the "style=" at styleAt (the blank
// that separates the attributes is left out). Throws PlatformError when that span is negative,
// which includes a line without "style=" (styleAt -1).
QString CutImageReference(QByteArrayView line, qsizetype start, qsizetype styleAt);

// The image address of the whole page as a scan line by line leaves it: the cut of the last line
// that holds the pattern and a "style=" after it; empty when there is none or the page can't be
// read.
QString LastImageReference(QIODevice& page, const QByteArray& pattern);
