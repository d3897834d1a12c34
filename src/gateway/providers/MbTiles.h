#pragma once

#include "TileMath.h"

#include <QByteArray>
#include <QDateTime>
#include <QRectF>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <memory>

// One MBTiles map file (an SQLite file of raster tiles), opened read-only. Tiles are numbered
// here as everywhere else in the gateway (XYZ, rows from the north); the file keeps them in TMS
// order, rows from the south. A file that is damaged, or no map file at all, gives a sentence
// naming it, never a crash. Used on one thread: the one that opened it.
class MbTilesFile
{
public:
    explicit MbTilesFile(const QString& path);
    ~MbTilesFile();
    MbTilesFile(const MbTilesFile&) = delete;
    MbTilesFile& operator=(const MbTilesFile&) = delete;

    // Opens the file, or opens it again when it changed on disk since, and reads what it says
    // about itself. Empty when the file is usable, else what is wrong, naming the file.
    QString open();

    QString path() const { return m_path; }
    QString fileName() const;                         // as reasons name it: "region.mbtiles"
    QDateTime modified() const { return m_modified; } // when the open file was last changed

    // Valid after open() succeeded.
    int minZoom() const { return m_minZoom; }
    int maxZoom() const { return m_maxZoom; }
    int tileSize() const { return m_tileSize; } // 256 or 512, from the first tile
    QString attribution() const { return m_attribution; }
    QRectF bounds() const { return m_bounds; } // x: longitude west..east, y: latitude south..north
    bool covers(double latitude, double longitude) const;

    // The encoded tile, or empty when the file has none there. On a read failure, empty with
    // *problem set.
    QByteArray tile(const TileId& xyz, QString* problem);

private:
    QString fail(const QString& what);
    QString readMetadata();
    void close();

    QString m_path;
    QString m_connection;
    QDateTime m_modified;
    qint64 m_size = -1;
    QString m_problem; // from the last open(), kept until the file changes
    bool m_opened = false;

    int m_minZoom = 0;
    int m_maxZoom = 0;
    int m_tileSize = 256;
    QString m_attribution;
    QRectF m_bounds;
    std::unique_ptr<QSqlQuery> m_tileQuery;
};
