#pragma once

#include "support/ListeningProcess.h"

// The stand-in map providers (tools/providers) run as their own process on a port the system
// chooses. extraArguments go on its command line (e.g. {"--key", "k"}).
class ProviderStandInProcess : public ListeningProcess
{
public:
    explicit ProviderStandInProcess(const QStringList& extraArguments = {}, int startTimeoutMs = 10'000)
        : ListeningProcess(QStringLiteral(ORROWDALE_PROVIDERS_PATH), extraArguments,
                           QStringLiteral("the stand-in providers"), startTimeoutMs)
    {
    }
};
