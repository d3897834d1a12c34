#include "capture/FileHelpers.h"

#include "platform/Files.h"
#include "platform/WindowSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// A path the platform can't hold would reach the system cut short or changed, naming another
// file: such a path names nothing.
bool Nameable(const QString& path)
{
    return !path.isEmpty() && RefusedCharacterAt(path) < 0;
}

} // namespace

bool FileExists(const QString& path)
{
    if (!Nameable(path))
        return false;
    const QFileInfo info(path);
    return info.exists() && info.lastModified().isValid();
}

void RemoveFile(WindowSystem& window, const QString& path)
{
    window.yield();
    if (!Nameable(path))
        return;
    // QFile::remove takes the name literally: "*" and "?" are plain characters, and a folder
    // is refused. A symbolic link is removed itself, never what it points to.
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        return;
    // A file marked read-only is left alone; here the folder's permissions alone would let
    // it go.
    if (!info.isSymLink() && info.exists() && !(info.permissions() & QFileDevice::WriteOwner))
        return;
    QFile::remove(path);
}

bool IsFolder(const QString& path)
{
    return Nameable(path) && QFileInfo(path).isDir();
}

QChar PathSeparator()
{
    return QDir::separator();
}

QString FileNamePart(const QString& path)
{
    return path.mid(path.lastIndexOf(PathSeparator()) + 1);
}
