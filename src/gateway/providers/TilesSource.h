#pragma once

#include "GatewayConfig.h"
#include "Geocoding.h"
#include "MapSource.h"
#include "ProviderClient.h"

#include <QCache>
#include <QDateTime>
#include <QImage>
#include <QStringList>
#include <QUrl>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

class Gazetteer;
class MbTilesFile;

// A geocoder and an XYZ tile server: the place is looked up, the tiles around it fetched and
// stitched into a picture centred on it, with the provider's attribution in the corner. Either may
// be files on this computer instead: places from gazetteer files (geocoder = gazetteer:/path, ...)
// and tiles from MBTiles map files (tiles = mbtiles:/path, ...).
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
    // How many zoom levels closer than a map file's closest its tiles are scaled up.
    static constexpr int MaxOverzoom = 3;

    // The paths of a setting that names files on this computer ("mbtiles:/a.mbtiles,
    // mbtiles:~/b.mbtiles" for scheme "mbtiles"); empty when it is no such setting.
    static QStringList localFiles(const QString& setting, QLatin1String scheme);

private:
    class Job;
    void findPlace(Job* job);
    void placeFound(Job* job, double latitude, double longitude);
    bool tooManyTiles(Job* job);
    void drawFromMapFiles(Job* job, double latitude, double longitude);
    void tilesReady(Job* job);
    // Pictures to keep are packed on worker threads after their answer has gone; the source
    // waits for them when it goes, so none made is lost to a restart.
    struct Packing
    {
        struct Packed
        {
            QString key;
            QUrl address;
            QByteArray png;
            QDateTime expires;
        };
        std::mutex mutex;
        std::condition_variable changed;
        int running = 0;
        std::vector<Packed> done;
    };
    void keepPacked();
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
    Gazetteer* m_gazetteer = nullptr;                     // when places come from files
    std::vector<std::unique_ptr<MbTilesFile>> m_mapFiles; // when tiles do

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
    std::shared_ptr<Packing> m_packing = std::make_shared<Packing>();
    QCache<QString, Kept> m_tileImages{64 << 20};
};
