#include "platform/qt/QtNetwork.h"

#include "BuildConfig.h"
#include "platform/Files.h"
#include "platform/PlatformError.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <deque>
#include <mutex>

namespace {

// Nothing is ever read from the local machine or another scheme's handler on behalf of an
// address that came off the network.
bool IsWebUrl(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() && (scheme == u"http" || scheme == u"https");
}

QString Megabytes(qint64 bytes)
{
    return QString::number(bytes / (1024.0 * 1024.0), 'g', 3);
}

QString Seconds(std::chrono::milliseconds time)
{
    return QString::number(time.count() / 1000.0, 'g', 3);
}

struct Limits
{
    std::chrono::milliseconds idleTimeout;
    std::chrono::milliseconds deadline;
    qint64 sizeCap;
};

// Fetches url with manager, in a local event loop of the calling thread, and hands the body to
// sink piece by piece; sink may throw PlatformError. Throws FetchError when the fetch fails or
// cancelled is set.
void Fetch(QNetworkAccessManager& manager, const Limits& limits, const QString& address,
           const std::function<void(const QByteArray&)>& sink, const std::atomic<bool>* cancelled = nullptr)
{
    const auto failed = [&](const QString& reason) { return FetchError(address, reason); };
    const QUrl url(address);
    if (!IsWebUrl(url))
        throw failed(QStringLiteral("only http and https addresses are fetched"));

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("Orrowdale/%1").arg(QString::fromUtf8(BuildConfig::Version)));
    request.setMaximumRedirectsAllowed(QtNetwork::MaxRedirects);

    QEventLoop loop;
    QTimer idle;
    QTimer deadline;
    idle.setSingleShot(true);
    deadline.setSingleShot(true);
    idle.setInterval(limits.idleTimeout);
    deadline.setInterval(limits.deadline);

    const std::unique_ptr<QNetworkReply> reply(manager.get(request));
    QString failure;
    qint64 received = 0;
    const auto fail = [&](const QString& reason) {
        if (failure.isEmpty())
            failure = reason;
        // Not from inside the reply's own signal: Qt may still be recording its own error.
        QMetaObject::invokeMethod(reply.get(), &QNetworkReply::abort, Qt::QueuedConnection);
    };
    const auto status = [&] { return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(); };
    const auto checkHeaders = [&] {
        // An error page is neither a map page nor an image: stop before its body.
        if (status() >= 400) {
            fail(QStringLiteral("the server answered %1 %2")
                     .arg(status())
                     .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString())
                     .trimmed());
            return;
        }
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > limits.sizeCap)
            fail(QStringLiteral("the answer is larger than %1 MiB").arg(Megabytes(limits.sizeCap)));
    };
    const auto take = [&] {
        const QByteArray piece = reply->readAll();
        if (!failure.isEmpty() || piece.isEmpty())
            return;
        received += piece.size();
        if (received > limits.sizeCap) {
            fail(QStringLiteral("the answer is larger than %1 MiB").arg(Megabytes(limits.sizeCap)));
            return;
        }
        try {
            sink(piece);
        } catch (const PlatformError& e) {
            fail(e.description());
        }
    };

    QObject::connect(reply.get(), &QNetworkReply::redirected, &loop, [&](const QUrl& to) {
        idle.start();
        if (!IsWebUrl(to))
            fail(QStringLiteral("redirected to \"%1\", which is not an http or https address")
                     .arg(to.toString()));
    });
    QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, &loop, [&] {
        idle.start();
        checkHeaders();
    });
    QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, [&] {
        idle.start();
        take();
    });
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&idle, &QTimer::timeout, &loop, [&] {
        fail(QStringLiteral("no answer came for %1 seconds").arg(Seconds(limits.idleTimeout)));
    });
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        fail(QStringLiteral("the answer was not complete after %1 seconds").arg(Seconds(limits.deadline)));
    });

    // A fetch ahead is given up when the program goes.
    QTimer watch;
    if (cancelled) {
        QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
            if (cancelled->load())
                fail(QStringLiteral("given up"));
        });
        watch.start(20);
    }

    idle.start();
    deadline.start();
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (failure.isEmpty())
        checkHeaders();
    if (failure.isEmpty())
        take();

    if (!failure.isEmpty())
        throw failed(failure);
    if (reply->error() == QNetworkReply::ProtocolUnknownError) {
        // Qt refuses to follow a redirect to another scheme; say where it pointed.
        const QUrl target = QUrl::fromEncoded(reply->rawHeader("Location"));
        if (!target.isEmpty())
            throw failed(QStringLiteral("redirected to \"%1\", which is not an http or https address")
                             .arg(url.resolved(target).toString()));
    }
    if (reply->error() == QNetworkReply::TooManyRedirectsError)
        throw failed(QStringLiteral("more than %1 redirects").arg(QtNetwork::MaxRedirects));
    if (reply->error() != QNetworkReply::NoError)
        throw failed(reply->errorString());
}

} // namespace

// Fetches ahead run on a thread of their own with a manager of their own, one hint at a time.
// Each address hinted is an entry, filled in when its fetch ends; the program's thread takes
// them in order.
struct QtNetwork::Ahead
{
    struct Entry
    {
        QString url;
        bool done = false;
        QByteArray body;
        QString failure; // the reason, when the fetch failed
    };

    QThread thread;
    QObject* context = nullptr;               // lives on thread
    QNetworkAccessManager* manager = nullptr; // a child of context, used on thread only
    std::atomic<bool> cancelled{false};
    std::mutex mutex;
    std::deque<std::shared_ptr<Entry>> entries;
    std::shared_ptr<Entry> hinted; // the page of the hint that still holds
    bool busy = false;
};

QtNetwork::QtNetwork() = default;

QtNetwork::~QtNetwork()
{
    if (m_ahead) {
        m_ahead->cancelled = true;
        m_ahead->thread.quit();
        m_ahead->thread.wait();
    }
}

void QtNetwork::expect(const QString& url, std::function<QString(const QByteArray&)> next)
{
    if (!m_ahead) {
        m_ahead = std::make_unique<Ahead>();
        m_ahead->context = new QObject;
        m_ahead->context->moveToThread(&m_ahead->thread);
        QObject::connect(&m_ahead->thread, &QThread::finished, m_ahead->context, &QObject::deleteLater);
        m_ahead->thread.start();
    }
    Ahead& ahead = *m_ahead;
    auto page = std::make_shared<Ahead::Entry>();
    page->url = url;
    {
        const std::lock_guard lock(ahead.mutex);
        if (ahead.busy)
            return; // the one before is still out: this location is fetched in its turn
        ahead.busy = true;
        ahead.entries = {page};
        ahead.hinted = page;
    }
    const Limits limits{m_idleTimeout, m_deadline, m_sizeCap};
    QMetaObject::invokeMethod(ahead.context, [&ahead, page, limits, next = std::move(next)] {
        if (!ahead.manager)
            ahead.manager = new QNetworkAccessManager(ahead.context);
        const auto fetch = [&](Ahead::Entry& entry) {
            try {
                Fetch(
                    *ahead.manager, limits, entry.url, [&](const QByteArray& piece) { entry.body += piece; },
                    &ahead.cancelled);
            } catch (const FetchError& e) {
                entry.failure = e.reason();
            } catch (const PlatformError& e) {
                entry.failure = e.description();
            }
        };
        Ahead::Entry fetched{page->url, true, {}, {}};
        fetch(fetched);
        std::shared_ptr<Ahead::Entry> image;
        if (fetched.failure.isEmpty() && !ahead.cancelled) {
            QString imageUrl;
            try {
                imageUrl = next(fetched.body);
            } catch (...) {
            }
            if (!imageUrl.isEmpty()) {
                image = std::make_shared<Ahead::Entry>();
                image->url = imageUrl;
            }
        }
        {
            // The picture's entry is there as soon as the page's is done: the program asks for the
            // picture only after it has the page.
            const std::lock_guard lock(ahead.mutex);
            *page = fetched;
            if (image && ahead.hinted == page)
                ahead.entries.push_back(image);
            else
                image.reset();
        }
        if (image) {
            Ahead::Entry picture{image->url, true, {}, {}};
            fetch(picture);
            const std::lock_guard lock(ahead.mutex);
            *image = picture;
        }
        const std::lock_guard lock(ahead.mutex);
        ahead.busy = false;
    });
}

std::optional<QtNetwork::Fetched> QtNetwork::takeAhead(const QString& url)
{
    if (!m_ahead)
        return std::nullopt;
    Ahead& ahead = *m_ahead;
    std::shared_ptr<Ahead::Entry> entry;
    {
        const std::lock_guard lock(ahead.mutex);
        if (ahead.entries.empty())
            return std::nullopt;
        if (ahead.entries.front()->url != url) {
            // Not what was expected: what is still out is dropped when it ends.
            ahead.entries.clear();
            ahead.hinted.reset();
            return std::nullopt;
        }
        entry = ahead.entries.front();
        ahead.entries.pop_front();
    }
    // Still on its way: the window repaints while it comes, as in any fetch. The fetch ahead has
    // its own bounds, and it started earlier.
    const auto done = [&] {
        const std::lock_guard lock(ahead.mutex);
        return entry->done;
    };
    if (!done()) {
        QEventLoop loop;
        QTimer poll;
        QElapsedTimer waited;
        waited.start();
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (done() || waited.elapsed() > (m_deadline + std::chrono::seconds(5)).count())
                loop.quit();
        });
        poll.start(1);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    const std::lock_guard lock(ahead.mutex);
    if (!entry->done)
        return std::nullopt; // never came: fetched now, as if nothing had been expected
    return Fetched{entry->body, entry->failure};
}

void QtNetwork::fetch(const QString& url, const std::function<void(const QByteArray&)>& sink)
{
    if (std::optional<Fetched> ahead = takeAhead(url)) {
        if (!ahead->failure.isEmpty())
            throw FetchError(url, ahead->failure);
        sink(ahead->body);
        return;
    }
    if (!m_manager) {
        QNetworkProxyFactory::setUseSystemConfiguration(true);
        m_manager = std::make_unique<QNetworkAccessManager>();
    }
    Fetch(*m_manager, Limits{m_idleTimeout, m_deadline, m_sizeCap}, url, sink);
}

void QtNetwork::downloadToFile(const QString& url, const QString& path)
{
    // A file appears at path only when the whole page is in it.
    try {
        WriteWholeFile(path, ReplacingFile::Kind::Work, [&](QIODevice& file) {
            fetch(url, [&](const QByteArray& piece) {
                if (file.write(piece) != piece.size())
                    throw PlatformError(QStringLiteral("Cannot write the page to \"%1\": %2")
                                            .arg(ShownPath(path), file.errorString()));
            });
        });
    } catch (const PlatformError&) {
        if (!path.isEmpty() && RefusedCharacterAt(path) < 0)
            QFile::remove(path);
        throw;
    }
}

QByteArray QtNetwork::openUrl(const QString& url)
{
    QByteArray body;
    fetch(url, [&](const QByteArray& piece) { body.append(piece); });
    return body;
}
