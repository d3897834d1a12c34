#include "capture/PageScan.h"

#include "platform/PlatformError.h"

#include <QIODevice>

#include <cstring>
#include <string_view>

namespace {

std::string_view View(QByteArrayView bytes)
{
    return {bytes.data(), static_cast<size_t>(bytes.size())};
}

// std::string_view's search skips ahead with memchr on the first byte and compares only there:
// linear in the line for a pattern of fixed length.
qsizetype Find(QByteArrayView line, QByteArrayView what, qsizetype from)
{
    if (from < 0 || from > line.size())
        return -1;
    const size_t at = View(line).find(View(what), static_cast<size_t>(from));
    return at == std::string_view::npos ? -1 : static_cast<qsizetype>(at);
}

} // namespace

PageLines::PageLines(QIODevice& page) : m_page(page) {}

void PageLines::load()
{
    if (m_loaded)
        return;
    m_loaded = true;
    // The whole page at once, into one allocation when its size is known.
    constexpr qint64 Chunk = 1 << 20;
    if (!m_page.isSequential())
        m_text.reserve(qMax<qint64>(0, m_page.size() - m_page.pos()) + Chunk);
    for (;;) {
        const qsizetype at = m_text.size();
        m_text.resize(at + Chunk);
        const qint64 got = m_page.read(m_text.data() + at, Chunk);
        m_text.resize(at + qMax<qint64>(got, 0));
        if (got < 0)
            throw PlatformError(QStringLiteral("Cannot read the map page: %1").arg(m_page.errorString()));
        if (got == 0)
            break;
    }
}

bool PageLines::atEnd()
{
    load();
    return m_pos >= m_text.size();
}

QByteArrayView PageLines::next()
{
    if (atEnd())
        return {};
    const char* from = m_text.constData() + m_pos;
    const qsizetype left = m_text.size() - m_pos;
    const auto* cr = static_cast<const char*>(std::memchr(from, '\r', static_cast<size_t>(left)));
    if (!cr) {
        m_pos = m_text.size();
        return {from, left};
    }
    const qsizetype length = cr - from;
    m_pos += length + 1;
    if (m_pos < m_text.size() && m_text.at(m_pos) == '\n')
        ++m_pos;
    return {from, length};
}

QByteArray ImageReferencePattern(const QString& baseUrl)
{
    return QByteArrayLiteral("img src=") + baseUrl.toLatin1() + QByteArrayLiteral("/mapdata?");
}

qsizetype FindPattern(QByteArrayView line, QByteArrayView pattern)
{
    return Find(line, pattern, 0);
}

qsizetype FindStyle(QByteArrayView line, qsizetype from)
{
    return Find(line, "style=", from);
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

QString LastImageReference(QIODevice& page, const QByteArray& pattern)
{
    PageLines lines(page);
    QString reference;
    try {
        while (!lines.atEnd()) {
            const QByteArrayView line = lines.next();
            const qsizetype p = FindPattern(line, pattern);
            if (p < 0)
                continue;
            try {
                reference = CutImageReference(line, p + 8, FindStyle(line, p + 8));
            } catch (const PlatformError&) {
                // a line without its "style=" leaves the address found before
            }
        }
    } catch (const PlatformError&) {
        return {};
    }
    return reference;
}
