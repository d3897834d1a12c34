#include "capture/WorkFolder.h"

#include "platform/Files.h"
#include "platform/PlatformError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

WorkFolder::WorkFolder() = default;

WorkFolder::~WorkFolder()
{
    remove();
}

void WorkFolder::create(const QString& parent)
{
    remove();
    CheckPath(parent, QStringLiteral("Cannot make a work folder in"));
    auto dir = std::make_unique<QTemporaryDir>(QDir(parent).filePath(QStringLiteral("orrowdale-XXXXXX")));
    if (!dir->isValid())
        throw PlatformError(QStringLiteral("Cannot make a work folder in \"%1\": %2")
                                .arg(ShownPath(parent), dir->errorString()));
    // Owner only, whatever the user's umask or the platform's default.
    QFile::setPermissions(dir->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_dir = std::move(dir);
}

QString WorkFolder::path() const
{
    return m_dir ? m_dir->path() : QString();
}

QString WorkFolder::filePath(const QString& name) const
{
    return m_dir ? m_dir->filePath(name) : QString();
}

void WorkFolder::remove()
{
    if (m_dir)
        m_dir->remove();
    m_dir.reset();
}
