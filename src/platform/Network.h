#pragma once

#include "platform/PlatformError.h"

#include <QByteArray>
#include <QString>

#include <functional>

// A failed fetch. Its description names the address; its reason alone says what went wrong
// (an HTTP error keeps its status and reason phrase), for a caller that names the fetch itself.
class FetchError : public PlatformError
{
public:
    FetchError(const QString& url, const QString& reason)
        : PlatformError(QStringLiteral("Cannot fetch \"%1\": %2").arg(url, reason)), m_reason(reason)
    {
    }
    const QString& reason() const { return m_reason; }

private:
    QString m_reason;
};

// Blocking HTTP(S) fetches. Both wait until the answer is complete; the window repaints
// meanwhile but user input waits.
class Network
{
public:
    virtual ~Network() = default;

    // Fetches url into the file at path, replacing what was there (a link at path is replaced,
    // never written through). A failed fetch leaves no file there. Throws FetchError when the
    // fetch fails, PlatformError when the file can't be written or path holds a character no
    // file name can have.
    virtual void downloadToFile(const QString& url, const QString& path) = 0;

    // Fetches url into memory. Throws FetchError when the fetch fails.
    virtual QByteArray openUrl(const QString& url) = 0;

    // Says that url is fetched next, and then the address next makes of its body (none when it
    // makes an empty one). Both may be fetched ahead in the background; the next fetches of
    // exactly those addresses, in that order, then get what came, failures included. A fetch of
    // anything else drops them. next runs on another thread: it may use only what it holds.
    virtual void expect(const QString& url, std::function<QString(const QByteArray&)> next)
    {
        Q_UNUSED(url);
        Q_UNUSED(next);
    }
};
