#pragma once

#include "support/ListeningProcess.h"

// The map gateway (src/gateway) run as its own process for the length of a test, on a port the
// system chooses unless arguments name one.
class GatewayProcess : public ListeningProcess
{
public:
    explicit GatewayProcess(const QStringList& arguments = {}, const QProcessEnvironment& environment = {},
                            const QString& program = QStringLiteral(ORROWDALE_GATEWAY_PATH),
                            int startTimeoutMs = 10'000)
        : ListeningProcess(program, withPort(program, arguments), QStringLiteral("the gateway"),
                           startTimeoutMs, environment)
    {
    }

private:
    static QStringList withPort(const QString& program, QStringList arguments)
    {
        if (program == QLatin1String(ORROWDALE_GATEWAY_PATH) &&
            !arguments.contains(QStringLiteral("--port"))) {
            arguments << QStringLiteral("--port") << QStringLiteral("0");
        }
        return arguments;
    }
};
