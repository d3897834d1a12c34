#include "capture/FileHelpers.h"

#include "platform/WindowSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

bool FileExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.exists() && info.lastModified().isValid();
}

void RemoveFile(WindowSystem& window, const QString& path)
{
    window.yield();
    if (path.isEmpty())
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
    return !path.isEmpty() && QFileInfo(path).isDir();
}

QChar PathSeparator()
{
    return QDir::separator();
}

QString FileNamePart(const QString& path)
{
    return path.mid(path.lastIndexOf(PathSeparator()) + 1);
}
