#pragma once

#include <QString>

#include <functional>

class QIODevice;

// Writes a work file that appears at path only once it is complete, replacing what was there.
// Unlike QSaveFile it does not wait for the disk: a work file is read back at once and removed,
// and a sync per file would cost more than the rest of a location's local work.
// write fills the file and may throw PlatformError; on any failure nothing new is left at path.
void WriteWorkFile(const QString& path, const std::function<void(QIODevice&)>& write);
