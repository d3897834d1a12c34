#include "platform/qt/WorkFile.h"

#include "platform/PlatformError.h"

#include <QDir>
#include <QTemporaryFile>

#include <filesystem>
#include <system_error>

void WriteWorkFile(const QString& path, const std::function<void(QIODevice&)>& write)
{
    const auto failed = [&](const QString& reason) {
        return PlatformError(
            QStringLiteral("Cannot write \"%1\": %2").arg(QDir::toNativeSeparators(path), reason));
    };
    if (path.isEmpty())
        throw failed(QStringLiteral("no file name"));
    // Beside the target, so the rename stays on one file system and is atomic.
    QTemporaryFile file(path + QStringLiteral(".XXXXXX"));
    if (!file.open())
        throw failed(file.errorString());
    write(file);
    if (!file.flush())
        throw failed(file.errorString());
    file.close();
    std::error_code error;
    std::filesystem::rename(file.fileName().toStdU16String(), path.toStdU16String(), error);
    if (error)
        throw failed(QString::fromStdString(error.message()));
    file.setAutoRemove(false);
}
