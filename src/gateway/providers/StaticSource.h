#pragma once

#include "GatewayConfig.h"
#include "Geocoding.h"
#include "MapSource.h"
#include "ProviderClient.h"

#include <QCache>
#include <QDateTime>

// A static-map API: one picture request per picture. A template with {search} sends the search
// as it is; one with {lat} and {lon} has the place looked up first by the configured geocoder
// (a location written as coordinates is not looked up). The provider's picture is passed on once
// it is known to be a whole picture of a sensible size, with the gateway's pin on it when the
// provider draws none.
class StaticSource : public MapSource
{
    Q_OBJECT
public:
    // How this provider is asked, beyond the templates.
    struct Options
    {
        int zoomOffset = 0;   // 1 for providers counting zoom on 512-pixel tiles
        bool drawPin = false; // the gateway draws the pin at the middle of the provider's picture
        int detail = 1;       // 2: twice the width, height and zoom (for 1280 pictures)
    };

    StaticSource(const GatewayConfig& config, const ProviderClient::Settings& settings,
                 const Options& options, QObject* parent = nullptr);
    ~StaticSource() override;

    void render(const MapRequest& request, QDeadlineTimer deadline, Done done) override;
    ProviderClient& client() { return *m_client; }

private:
    class Job;
    void fetchPicture(Job* job, const QString& latitude, const QString& longitude);
    QUrl pinnedAddress(const QUrl& url) const;

    QString m_template;
    QString m_geocoder;
    GeocoderPaths m_paths;
    QString m_key;
    QString m_country;
    Options m_options;
    ProviderClient* m_client;
    // Pictures with the gateway's pin drawn, by the provider address they came from, kept as long as
    // the provider's picture stays fresh: a repeated search costs no second drawing.
    struct Pinned
    {
        QByteArray png;
        QDateTime expires;
    };
    QCache<QString, Pinned> m_pinned{32 << 20};
};
