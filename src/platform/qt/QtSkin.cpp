#include "platform/qt/QtSkin.h"

#include "platform/PlatformError.h"

#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QStringDecoder>
#include <QWidget>

namespace {

// A style sheet is small; anything much larger is not one.
constexpr qint64 MaxSkinBytes = 1 << 20;

} // namespace

void QtSkin::loadSkin(const QString& path, const QString&)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw PlatformError(QStringLiteral("Cannot read the skin %1: %2").arg(path, file.errorString()));
    const QByteArray bytes = file.read(MaxSkinBytes + 1);
    if (file.error() != QFileDevice::NoError)
        throw PlatformError(QStringLiteral("Cannot read the skin %1: %2").arg(path, file.errorString()));
    if (bytes.size() > MaxSkinBytes)
        throw PlatformError(QStringLiteral("The skin %1 is too large to be a style sheet").arg(path));
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString sheet = utf8.decode(bytes);
    if (utf8.hasError() || sheet.contains(QChar(0)))
        throw PlatformError(QStringLiteral("The skin %1 is not a style sheet (not UTF-8 text)").arg(path));
    m_path = path;
    m_styleSheet = sheet;
    m_loaded = true;
}

void QtSkin::applyWindow(QWidget& window)
{
    if (!m_loaded)
        throw PlatformError(QStringLiteral("No skin has been loaded"));
    if ((m_options & Checked) && !isWellFormed(m_styleSheet))
        throw PlatformError(
            QStringLiteral(
                "The skin %1 is not a well-formed style sheet: a block, string or comment is not closed")
                .arg(m_path));
    if (m_frames)
        for (QGroupBox* frame : window.findChildren<QGroupBox*>())
            frame->setAutoFillBackground(false);
    if (m_dialogs)
        qApp->setStyleSheet(m_styleSheet);
    else
        window.setStyleSheet(m_styleSheet);
}

bool QtSkin::isWellFormed(const QString& sheet)
{
    int depth = 0;
    const qsizetype n = sheet.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = sheet[i];
        if (c == QLatin1Char('/') && i + 1 < n && sheet[i + 1] == QLatin1Char('*')) {
            const qsizetype end = sheet.indexOf(QStringLiteral("*/"), i + 2);
            if (end < 0)
                return false;
            i = end + 1;
        } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            ++i;
            while (i < n && sheet[i] != c) {
                if (sheet[i] == QLatin1Char('\\'))
                    ++i;
                else if (sheet[i] == QLatin1Char('\n'))
                    return false;
                ++i;
            }
            if (i >= n)
                return false;
        } else if (c == QLatin1Char('{')) {
            ++depth;
        } else if (c == QLatin1Char('}')) {
            if (--depth < 0)
                return false;
        }
    }
    return depth == 0;
}
