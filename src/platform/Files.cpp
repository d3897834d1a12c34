#include "platform/Files.h"

#include "platform/PlatformError.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <filesystem>
#include <system_error>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

bool IsAsciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

std::filesystem::path NativePath(const QString& path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(QDir::toNativeSeparators(path).toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

// A name's length as the file system counts it against its limit.
qsizetype NameLength(const QString& name)
{
#ifdef Q_OS_WIN
    return name.size();
#else
    return QFile::encodeName(name).size();
#endif
}

// The reason it failed; empty when the file is on disk.
QString SyncToDisk(QFile& file)
{
#ifdef Q_OS_WIN
    const bool synced = ::_commit(file.handle()) == 0;
#else
    const bool synced = ::fsync(file.handle()) == 0;
#endif
    return synced ? QString() : QString::fromLocal8Bit(std::generic_category().message(errno));
}

} // namespace

NameRules NativeNameRules()
{
#ifdef Q_OS_WIN
    return NameRules::Windows;
#else
    return NameRules::Posix;
#endif
}

qsizetype RefusedCharacterAt(QStringView path, NameRules rules)
{
    const bool windows = rules == NameRules::Windows;
    // The long-path prefix \\?\ and a drive's colon belong to the path, not to a name in it.
    qsizetype root = 0;
    if (windows && (path.startsWith(u"\\\\?\\") || path.startsWith(u"//?/")))
        root = 4;
    for (qsizetype i = 0; i < path.size(); ++i) {
        const QChar c = path[i];
        if (c.isHighSurrogate() && i + 1 < path.size() && path[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        if (c == u'\0' || (c.isSurrogate() && !windows))
            return i;
        if (!windows || i < root)
            continue;
        if (c.unicode() < 32)
            return i;
        switch (c.unicode()) {
        case u'<':
        case u'>':
        case u'"':
        case u'|':
        case u'?':
        case u'*':
            return i;
        case u':':
            if (i != root + 1 || !IsAsciiLetter(path[root]))
                return i;
            break;
        default:
            break;
        }
    }
    return -1;
}

QString VisibleText(const QString& text)
{
    QString shown = text;
    for (qsizetype i = 0; i < shown.size(); ++i) {
        const QChar c = shown.at(i);
        if (c.unicode() < 32)
            shown[i] = QChar(0x2400 + c.unicode()); // the Control Pictures block: NUL shows as ␀
        else if (c.unicode() == 0x7f)
            shown[i] = QChar(0x2421);
        else if (c.isHighSurrogate() && i + 1 < shown.size() && shown.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            shown[i] = QChar::ReplacementCharacter;
    }
    return shown;
}

QString ShownPath(const QString& path)
{
    return VisibleText(QDir::toNativeSeparators(path));
}

void CheckPath(const QString& path, const QString& failure)
{
    const qsizetype at = RefusedCharacterAt(path);
    if (at < 0)
        return;
    const QChar c = path.at(at);
    QString what;
    if (c.unicode() < 32)
        what = QStringLiteral("a control character (code %1)").arg(c.unicode());
    else if (c.isSurrogate())
        what = QStringLiteral("half of a character (code %1 without its pair)")
                   .arg(QString::number(c.unicode(), 16).toUpper());
    else
        what = QStringLiteral("the character '%1'").arg(c);
    throw PlatformError(
        QStringLiteral("%1 \"%2\": a file name cannot hold %3").arg(failure, ShownPath(path), what));
}

ReplacingFile::ReplacingFile(const QString& path, Kind kind) : m_path(path), m_kind(kind) {}

ReplacingFile::~ReplacingFile()
{
    discard();
}

void ReplacingFile::open()
{
    discard();
    const auto failed = [&](const QString& reason) {
        return PlatformError(QStringLiteral("Cannot create \"%1\": %2").arg(ShownPath(m_path), reason));
    };
    if (m_path.isEmpty())
        throw failed(QStringLiteral("no file name"));
    CheckPath(m_path, QStringLiteral("Cannot create"));
    const QFileInfo target(m_path);
    if (target.isDir() && !target.isSymLink())
        throw failed(QStringLiteral("a folder has that name"));

    // In the same folder, so the rename stays on one file system and is atomic; and as long as
    // the name, so a name the folder can't hold fails here rather than at the rename.
    const QString marker = QStringLiteral(".orrowdale-");
    const qsizetype length = qMax<qsizetype>(marker.size() + 16, NameLength(target.fileName()));
    for (int attempt = 0;; ++attempt) {
        const QString random =
            QStringLiteral("%1").arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
        const QString name = (marker + random).leftJustified(length, u'~');
        m_file.setFileName(QDir(target.path()).filePath(name));
        // Made here and now: a file or link that already has this name is never opened.
        const QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::NewOnly;
        if (m_kind == Kind::Result ? m_file.open(mode)
                                   : m_file.open(mode, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            return;
        const QFileInfo taken(m_file.fileName());
        const QString reason = m_file.errorString();
        m_file.setFileName(QString()); // not ours: never removed
        if (attempt == 8 || !(taken.exists() || taken.isSymLink()))
            throw failed(reason);
    }
}

void ReplacingFile::commit()
{
    const auto failed = [&](const QString& reason) {
        const PlatformError error(QStringLiteral("Cannot write \"%1\": %2").arg(ShownPath(m_path), reason));
        discard();
        return error;
    };
    if (!m_file.isOpen())
        throw failed(QStringLiteral("it was not created"));
    if (!m_file.flush())
        throw failed(m_file.errorString());
    // A link at the name is replaced as always; a file there keeps what the user made of it.
    const QFileInfo target(m_path);
    if (target.exists() && !target.isSymLink() && target.isFile()) {
        if (!target.isWritable())
            throw failed(QStringLiteral("the file is read-only"));
        if (!m_file.setPermissions(target.permissions()))
            throw failed(m_file.errorString());
    }
    if (const QString reason = m_kind == Kind::Work ? QString() : SyncToDisk(m_file); !reason.isEmpty())
        throw failed(reason);
    m_file.close();
    // A rename replaces the entry at the name, a link included; it never opens what a link
    // points to.
    std::error_code error;
    std::filesystem::rename(NativePath(m_file.fileName()), NativePath(m_path), error);
    if (error)
        throw failed(QString::fromLocal8Bit(error.message()));
    m_file.setFileName(QString());
}

void ReplacingFile::discard()
{
    if (m_file.fileName().isEmpty())
        return;
    m_file.close();
    m_file.remove();
    m_file.setFileName(QString());
}

void WriteWholeFile(const QString& path, ReplacingFile::Kind kind,
                    const std::function<void(QIODevice&)>& write)
{
    ReplacingFile file(path, kind);
    file.open();
    write(file.device());
    file.commit();
}
