#pragma once

#include <QByteArray>
#include <QString>

// Blocking HTTP(S) fetches. Both wait until the answer is complete; the window repaints
// meanwhile but user input waits.
class Network
{
public:
    virtual ~Network() = default;

    // Fetches url into the file at path. A failed fetch leaves no file there.
    // Throws PlatformError with the reason when the fetch fails.
    virtual void downloadToFile(const QString& url, const QString& path) = 0;

    // Fetches url into memory. Throws PlatformError with the reason when the fetch fails.
    virtual QByteArray openUrl(const QString& url) = 0;
};
