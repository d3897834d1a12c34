#pragma once

#include "platform/Files.h"
#include "platform/Network.h"

#include <QHash>
#include <QStringList>

#include <functional>

// Serves scripted answers; a URL without one fails like an unreachable host.
class FakeNetwork : public Network
{
public:
    QHash<QString, QByteArray> answers;                // url -> body
    QStringList requests;                              // every URL asked for, in order
    std::function<QByteArray(const QString&)> onFetch; // overrides answers when set

    void downloadToFile(const QString& url, const QString& path) override
    {
        const QByteArray body = fetch(url);
        WriteWholeFile(path, ReplacingFile::Kind::Work, [&](QIODevice& file) {
            if (file.write(body) != body.size())
                throw PlatformError(QStringLiteral("Cannot write %1").arg(path));
        });
    }

    QByteArray openUrl(const QString& url) override { return fetch(url); }

private:
    QByteArray fetch(const QString& url)
    {
        requests << url;
        if (onFetch)
            return onFetch(url);
        const auto it = answers.constFind(url);
        if (it == answers.cend())
            throw FetchError(url, QStringLiteral("no answer is scripted for it"));
        return *it;
    }
};
