#include "capture/PageScan.h"

#include "platform/PlatformError.h"

#include <QIODevice>

#include <cstring>

namespace {
// Large enough that a page is read in a handful of calls, small enough not to matter.
constexpr qint64 ChunkSize = 1 << 20;
} // namespace

PageLines::PageLines(QIODevice& page) : m_page(page) {}

bool PageLines::fill()
{
    if (m_exhausted)
        return false;
    m_buffer.resize(ChunkSize);
    const qint64 got = m_page.read(m_buffer.data(), ChunkSize);
    if (got < 0)
        throw PlatformError(QStringLiteral("Cannot read the map page: %1").arg(m_page.errorString()));
    m_buffer.resize(got);
    m_pos = 0;
    if (got == 0)
        m_exhausted = true;
    return got > 0;
}

bool PageLines::atEnd()
{
    if (m_pos == m_buffer.size() && !fill())
        return true;
    if (m_afterCr) {
        m_afterCr = false;
        if (m_buffer.at(m_pos) == '\n' && ++m_pos == m_buffer.size() && !fill())
            return true;
    }
    return false;
}

QByteArray PageLines::next()
{
    QByteArray line;
    if (atEnd())
        return line;
    for (;;) {
        const char* from = m_buffer.constData() + m_pos;
        const qsizetype left = m_buffer.size() - m_pos;
        // Each byte is looked at once, however long the line: a page without any carriage
        // return is one line, and it must not cost more than its length.
        const auto* cr = static_cast<const char*>(std::memchr(from, '\r', static_cast<size_t>(left)));
        if (cr) {
            line.append(from, cr - from);
            m_pos += (cr - from) + 1;
            m_afterCr = true;
            return line;
        }
        line.append(from, left);
        m_pos = m_buffer.size();
        if (!fill())
            return line;
    }
}

QByteArray ImageReferencePattern(const QString& baseUrl)
{
    return QByteArrayLiteral("img src=") + baseUrl.toLatin1() + QByteArrayLiteral("/mapdata?");
}

qsizetype FindStyle(QByteArrayView line, qsizetype from)
{
    if (from > line.size())
        return -1;
    return line.indexOf(QByteArrayView("style="), from);
}

QString CutImageReference(QByteArrayView line, qsizetype start, qsizetype styleAt)
{
    if (styleAt < 0)
        throw PlatformError(QStringLiteral("The map page has no \"style=\" after its image address, so the "
                                           "address cannot be cut out"));
    const qsizetype length = styleAt - 1 - start;
    if (length < 0)
        throw PlatformError(QStringLiteral("The map page has \"style=\" too close to its image address to "
                                           "cut the address out"));
    return QString::fromLatin1(line.sliced(start, length));
}
