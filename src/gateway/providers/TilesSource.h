#pragma once

#include "GatewayConfig.h"
#include "Geocoding.h"
#include "MapSource.h"
#include "ProviderClient.h"

#include <QCache>
#include <QDateTime>
#include <QImage>
#include <QUrl>

// A geocoder and an XYZ tile server: the place is looked up, the tiles around it fetched and
// stitched into a picture centred on it, with the provider's attribution in the corner.
class TilesSource : public MapSource
{
    Q_OBJECT
public:
    TilesSource(const GatewayConfig& config, const ProviderClient::Settings& settings,
                QObject* parent = nullptr);
    ~TilesSource() override;

    void render(const MapRequest& request, QDeadlineTimer deadline, Done done) override;
    ProviderClient& client() { return *m_client; }

    static constexpr int MaxTiles = 16;

private:
    class Job;
    void placeFound(Job* job, double latitude, double longitude);
    void tilesReady(Job* job);
    QUrl pictureAddress(const MapRequest& request) const;

    QString m_geocoder;
    QString m_tiles;
    int m_tileSize;
    QString m_attribution;
    QString m_key;
    GeocoderPaths m_paths;
    QString m_country;
    bool m_marker;
    int m_detail; // 2: pictures of twice the width and height at the next zoom (1280 for print)
    ProviderClient* m_client;

    // Recent work kept in memory (and finished pictures on disk too, for after a restart), each thing only as
    // long as what it was made from stays fresh: finished pictures (a repeated search) and decoded tiles (a
    // neighbouring one).
    struct Kept
    {
        QByteArray png;
        QImage tile;
        QDateTime expires;
    };
    QCache<QString, Kept> m_pictures{32 << 20};
    QCache<QString, Kept> m_tileImages{64 << 20};
};
