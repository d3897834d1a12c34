#pragma once

#include "platform/Network.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QNetworkAccessManager;

// Fetches over HTTP and HTTPS with Qt Network, blocking in a local event loop that lets the
// window repaint but holds back user input (clicks and close requests wait for the fetch).
// Only http and https addresses are fetched, also after a redirect; a fetch that stalls, takes
// too long or grows too large fails with a description that says which.
class QtNetwork : public Network
{
public:
    static constexpr std::chrono::milliseconds DefaultIdleTimeout{30'000};
    static constexpr std::chrono::milliseconds DefaultDeadline{120'000};
    static constexpr qint64 DefaultSizeCap = 32 * 1024 * 1024;
    static constexpr int MaxRedirects = 10;

    QtNetwork();
    ~QtNetwork() override;

    // Longest wait for the next byte, longest whole fetch, largest body. Tests shorten them.
    void setIdleTimeout(std::chrono::milliseconds timeout) { m_idleTimeout = timeout; }
    void setDeadline(std::chrono::milliseconds deadline) { m_deadline = deadline; }
    void setSizeCap(qint64 bytes) { m_sizeCap = bytes; }

    void downloadToFile(const QString& url, const QString& path) override;
    QByteArray openUrl(const QString& url) override;
    void expect(const QString& url, std::function<QString(const QByteArray&)> next) override;

private:
    struct Ahead;
    struct Fetched
    {
        QByteArray body;
        QString failure; // the reason, when the fetch failed
    };

    // Fetches url and hands the body to sink piece by piece; sink may throw PlatformError.
    // Throws PlatformError when the fetch fails.
    void fetch(const QString& url, const std::function<void(const QByteArray&)>& sink);
    // What was fetched ahead for url, once it is there; nothing when url was not expected next.
    std::optional<Fetched> takeAhead(const QString& url);

    std::unique_ptr<QNetworkAccessManager> m_manager;
    std::unique_ptr<Ahead> m_ahead;
    std::chrono::milliseconds m_idleTimeout = DefaultIdleTimeout;
    std::chrono::milliseconds m_deadline = DefaultDeadline;
    qint64 m_sizeCap = DefaultSizeCap;
};
