#pragma once

#include <QString>

class Network;
class WindowSystem;

// Fetches url into the file at path, replacing what was there. Reports nothing: a failed fetch
// leaves no file, which the caller sees. True when a file is at path afterwards. When it fails
// and failure is given, failure says why (without the address, for the caller to name it).
bool DownloadToFile(WindowSystem& window, Network& network, const QString& url, const QString& path,
                    QString* failure = nullptr);
