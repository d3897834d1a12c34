#pragma once

#include <QString>

#include <memory>

class QTemporaryDir;

// A folder of the capture run's own for its page work file: fresh for every run and readable
// by the user alone, so no other user can plant a link in its place and two running copies of
// the program never share a file. Removed with everything in it when the run ends.
class WorkFolder
{
public:
    WorkFolder();
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    // Makes the folder inside parent. Throws PlatformError when it can't.
    void create(const QString& parent);
    // The folder's path; empty when it was not made or has been removed.
    QString path() const;
    // The path of a file inside the folder; empty when there is no folder.
    QString filePath(const QString& name) const;
    void remove();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};
