#include "platform/qt/QtNetwork.h"

#include "BuildConfig.h"
#include "platform/Files.h"
#include "platform/PlatformError.h"

#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QTimer>
#include <QUrl>

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

} // namespace

QtNetwork::QtNetwork() = default;
QtNetwork::~QtNetwork() = default;

void QtNetwork::fetch(const QString& address, const std::function<void(const QByteArray&)>& sink)
{
    const auto failed = [&](const QString& reason) { return FetchError(address, reason); };
    const QUrl url(address);
    if (!IsWebUrl(url))
        throw failed(QStringLiteral("only http and https addresses are fetched"));

    if (!m_manager) {
        QNetworkProxyFactory::setUseSystemConfiguration(true);
        m_manager = std::make_unique<QNetworkAccessManager>();
    }
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("Orrowdale/%1").arg(QString::fromUtf8(BuildConfig::Version)));
    request.setMaximumRedirectsAllowed(MaxRedirects);

    QEventLoop loop;
    QTimer idle;
    QTimer deadline;
    idle.setSingleShot(true);
    deadline.setSingleShot(true);
    idle.setInterval(m_idleTimeout);
    deadline.setInterval(m_deadline);

    const std::unique_ptr<QNetworkReply> reply(m_manager->get(request));
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
        if (length.isValid() && length.toLongLong() > m_sizeCap)
            fail(QStringLiteral("the answer is larger than %1 MiB").arg(Megabytes(m_sizeCap)));
    };
    const auto take = [&] {
        const QByteArray piece = reply->readAll();
        if (!failure.isEmpty() || piece.isEmpty())
            return;
        received += piece.size();
        if (received > m_sizeCap) {
            fail(QStringLiteral("the answer is larger than %1 MiB").arg(Megabytes(m_sizeCap)));
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
        fail(QStringLiteral("no answer came for %1 seconds").arg(Seconds(m_idleTimeout)));
    });
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        fail(QStringLiteral("the answer was not complete after %1 seconds").arg(Seconds(m_deadline)));
    });

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
        throw failed(QStringLiteral("more than %1 redirects").arg(MaxRedirects));
    if (reply->error() != QNetworkReply::NoError)
        throw failed(reply->errorString());
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
