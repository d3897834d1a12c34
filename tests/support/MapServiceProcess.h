#pragma once

#include "support/ListeningProcess.h"

#include <optional>

// The local map service (tools/mapservice) run as its own process for the length of a test.
// extraArguments go on its command line (e.g. {"--stall-ms", "500"}).
class MapServiceProcess : public ListeningProcess
{
public:
    explicit MapServiceProcess(const QStringList& extraArguments = {}, int startTimeoutMs = 10'000)
        : ListeningProcess(QStringLiteral(ORROWDALE_MAPSERVICE_PATH), extraArguments,
                           QStringLiteral("the map service"), startTimeoutMs)
    {
    }

    // Every request target the service has logged so far (the service logs a request before it
    // answers, so a request whose answer has arrived is in the list).
    QStringList requestTargets()
    {
        QStringList targets;
        for (const QString& line : settledLog(20)) {
            if (const std::optional<QString> t = target(line)) {
                targets << *t;
            }
        }
        return targets;
    }

    // Waits until a logged request target contains fragment.
    bool waitForRequest(const QString& fragment, int timeoutMs = 5000)
    {
        return waitForLine(
            [&](const QString& line) {
                const std::optional<QString> t = target(line);
                return t && t->contains(fragment);
            },
            timeoutMs);
    }

private:
    // The target of a request line "GET /maps?... HTTP/1.1"; none for any other line.
    static std::optional<QString> target(const QString& line)
    {
        const QStringList parts = line.trimmed().split(u' ');
        return parts.size() == 3 ? std::optional<QString>(parts[1]) : std::nullopt;
    }
};
