#include "ProviderSources.h"

std::unique_ptr<MapSource> createProviderSource(const GatewayConfig&, QObject*)
{
    return nullptr;
}
