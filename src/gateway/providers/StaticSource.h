#pragma once

#include "GatewayConfig.h"
#include "MapSource.h"
#include "ProviderClient.h"

// A static-map API: one request per picture, the search text sent as it is. The provider's
// picture is passed on once it is known to be a whole picture of a sensible size.
class StaticSource : public MapSource
{
    Q_OBJECT
public:
    StaticSource(const GatewayConfig& config, const ProviderClient::Settings& settings,
                 QObject* parent = nullptr);
    ~StaticSource() override;

    void render(const MapRequest& request, QDeadlineTimer deadline, Done done) override;
    ProviderClient& client() { return *m_client; }

private:
    QString m_template;
    QString m_key;
    ProviderClient* m_client;
};
