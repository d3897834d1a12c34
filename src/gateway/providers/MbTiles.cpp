#include "MbTiles.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>
#include <QSqlError>
#include <QSqlRecord>
#include <QVariant>

#include <atomic>
#include <cmath>
#include <numbers>

namespace {

std::atomic<quint64> connections{0};

double longitudeOf(qint64 column, int zoom)
{
    return double(column) / double(qint64(1) << zoom) * 360.0 - 180.0;
}

double latitudeOf(qint64 xyzRow, int zoom)
{
    const double n = std::numbers::pi * (1 - 2 * double(xyzRow) / double(qint64(1) << zoom));
    return std::atan(std::sinh(n)) * 180 / std::numbers::pi;
}

// "12" -> 12, anything else (or beyond web-map zooms) -> -1.
int zoomFrom(const QVariant& value)
{
    bool ok = false;
    const int z = value.toString().trimmed().toInt(&ok);
    return ok && z >= 0 && z <= 22 ? z : -1;
}

} // namespace

MbTilesFile::MbTilesFile(const QString& path)
    : m_path(path), m_connection(QStringLiteral("orrowdale-mbtiles-%1").arg(++connections))
{
}

MbTilesFile::~MbTilesFile()
{
    close();
}

void MbTilesFile::close()
{
    m_tileQuery.reset();
    if (QSqlDatabase::contains(m_connection)) {
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
    }
    m_opened = false;
}

QString MbTilesFile::fileName() const
{
    return QFileInfo(m_path).fileName();
}

// The connection stays until the file is opened again or let go: queries may still hold it here.
QString MbTilesFile::fail(const QString& what)
{
    m_tileQuery.reset();
    m_problem = QStringLiteral("The map file \"%1\" %2").arg(fileName(), what);
    return m_problem;
}

bool MbTilesFile::covers(double latitude, double longitude) const
{
    return latitude >= m_bounds.top() && latitude <= m_bounds.bottom() && longitude >= m_bounds.left() &&
           longitude <= m_bounds.right();
}

QString MbTilesFile::open()
{
    const QFileInfo info(m_path);
    if (!info.isFile()) {
        close();
        m_modified = {};
        m_size = -1;
        m_problem = QStringLiteral("The map file \"%1\" is not there (%2)").arg(fileName(), m_path);
        return m_problem;
    }
    if (info.lastModified() == m_modified && info.size() == m_size) {
        return m_problem; // nothing changed since: the same answer without reading it again
    }
    close();
    m_modified = info.lastModified();
    m_size = info.size();
    m_problem.clear();

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    if (!db.isValid()) {
        return fail(QStringLiteral("cannot be read: the gateway lacks Qt's SQLite driver"));
    }
    db.setDatabaseName(m_path);
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (!db.open()) {
        return fail(QStringLiteral("cannot be opened: %1").arg(db.lastError().text()));
    }
    m_opened = true;
    // The file is the user's but its contents are not ours: no schema code is trusted, and
    // damaged pages are caught as they are read.
    QSqlQuery pragma(db);
    pragma.exec(QStringLiteral("PRAGMA trusted_schema = OFF"));
    pragma.exec(QStringLiteral("PRAGMA cell_size_check = ON"));
    return readMetadata();
}

QString MbTilesFile::readMetadata()
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT name, type FROM sqlite_master WHERE type IN ('table', 'view')"))) {
        return fail(QStringLiteral("is not an MBTiles map file (%1)").arg(q.lastError().databaseText()));
    }
    bool tiles = false, map = false, images = false, metadata = false;
    while (q.next()) {
        const QString name = q.value(0).toString().toLower();
        tiles = tiles || name == QLatin1String("tiles");
        map = map || name == QLatin1String("map");
        images = images || name == QLatin1String("images");
        metadata = metadata || name == QLatin1String("metadata");
    }
    QString from;
    if (tiles) {
        from = QStringLiteral("SELECT tile_data FROM tiles WHERE zoom_level = ? AND tile_column = ? AND "
                              "tile_row = ?");
    } else if (map && images) {
        from = QStringLiteral("SELECT images.tile_data FROM map JOIN images ON map.tile_id = images.tile_id "
                              "WHERE map.zoom_level = ? AND map.tile_column = ? AND map.tile_row = ?");
    } else {
        return fail(QStringLiteral("is not an MBTiles map file: it has no tiles"));
    }
    const QString table = tiles ? QStringLiteral("tiles") : QStringLiteral("map");

    QString format;
    QString boundsText;
    m_minZoom = m_maxZoom = -1;
    m_attribution.clear();
    if (metadata && q.exec(QStringLiteral("SELECT name, value FROM metadata"))) {
        while (q.next()) {
            const QString name = q.value(0).toString().trimmed().toLower();
            if (name == QLatin1String("minzoom")) {
                m_minZoom = zoomFrom(q.value(1));
            } else if (name == QLatin1String("maxzoom")) {
                m_maxZoom = zoomFrom(q.value(1));
            } else if (name == QLatin1String("bounds")) {
                boundsText = q.value(1).toString();
            } else if (name == QLatin1String("attribution")) {
                m_attribution = q.value(1).toString().simplified();
            } else if (name == QLatin1String("format")) {
                format = q.value(1).toString().trimmed().toLower();
            }
        }
    }
    if (!format.isEmpty() && format != QLatin1String("png") && format != QLatin1String("jpg") &&
        format != QLatin1String("jpeg") && format != QLatin1String("webp")) {
        return fail(
            QStringLiteral("holds %1 tiles; the gateway draws png, jpg or webp").arg(format.left(20)));
    }
    // What the metadata leaves out is taken from the tiles themselves.
    if (m_minZoom < 0 || m_maxZoom < 0 || m_minZoom > m_maxZoom) {
        if (!q.exec(QStringLiteral("SELECT MIN(zoom_level), MAX(zoom_level) FROM %1").arg(table)) ||
            !q.next()) {
            return fail(QStringLiteral("cannot be read: %1").arg(q.lastError().databaseText()));
        }
        m_minZoom = zoomFrom(q.value(0));
        m_maxZoom = zoomFrom(q.value(1));
        if (m_minZoom < 0 || m_maxZoom < 0) {
            return fail(QStringLiteral("holds no tiles"));
        }
    }
    if (!q.exec(QStringLiteral("SELECT tile_data FROM %1 LIMIT 1")
                    .arg(tiles ? table : QStringLiteral("images")))) {
        return fail(QStringLiteral("cannot be read: %1").arg(q.lastError().databaseText()));
    }
    if (!q.next()) {
        return fail(QStringLiteral("holds no tiles"));
    }
    QByteArray first = q.value(0).toByteArray();
    QBuffer buffer(&first);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (size != QSize(256, 256) && size != QSize(512, 512)) {
        return fail(size.isValid()
                        ? QStringLiteral("holds tiles of %1 x %2 pixels; the gateway draws tiles of "
                                         "256 or 512")
                              .arg(size.width())
                              .arg(size.height())
                        : QStringLiteral("holds tiles that are not pictures"));
    }
    m_tileSize = size.width();

    const QStringList parts = boundsText.split(QLatin1Char(','));
    bool ok = parts.size() == 4;
    double b[4] = {};
    for (int i = 0; ok && i < 4; ++i) {
        b[i] = parts[i].trimmed().toDouble(&ok);
        ok = ok && std::isfinite(b[i]);
    }
    if (ok && b[0] < b[2] && b[1] < b[3]) {
        m_bounds = QRectF(QPointF(b[0], b[1]), QPointF(b[2], b[3]));
    } else {
        // No usable bounds: the ground the tiles of the closest zoom cover.
        if (!q.exec(QStringLiteral("SELECT MIN(tile_column), MAX(tile_column), MIN(tile_row), MAX(tile_row) "
                                   "FROM %1 WHERE zoom_level = %2")
                        .arg(table)
                        .arg(m_maxZoom)) ||
            !q.next()) {
            return fail(QStringLiteral("cannot be read: %1").arg(q.lastError().databaseText()));
        }
        const qint64 last = (qint64(1) << m_maxZoom) - 1;
        const qint64 west = std::clamp<qint64>(q.value(0).toLongLong(), 0, last);
        const qint64 east = std::clamp<qint64>(q.value(1).toLongLong(), 0, last);
        const qint64 south = last - std::clamp<qint64>(q.value(2).toLongLong(), 0, last);
        const qint64 north = last - std::clamp<qint64>(q.value(3).toLongLong(), 0, last);
        m_bounds = QRectF(QPointF(longitudeOf(west, m_maxZoom), latitudeOf(south + 1, m_maxZoom)),
                          QPointF(longitudeOf(east + 1, m_maxZoom), latitudeOf(north, m_maxZoom)));
    }

    m_tileQuery = std::make_unique<QSqlQuery>(QSqlDatabase::database(m_connection, false));
    m_tileQuery->setForwardOnly(true);
    if (!m_tileQuery->prepare(from)) {
        return fail(QStringLiteral("cannot be read: %1").arg(m_tileQuery->lastError().databaseText()));
    }
    return {};
}

QByteArray MbTilesFile::tile(const TileId& xyz, QString* problem)
{
    if (!m_tileQuery) {
        *problem = m_problem.isEmpty() ? fail(QStringLiteral("is not open")) : m_problem;
        return {};
    }
    const qint64 tmsRow = (qint64(1) << xyz.z) - 1 - xyz.y;
    m_tileQuery->bindValue(0, xyz.z);
    m_tileQuery->bindValue(1, xyz.x);
    m_tileQuery->bindValue(2, tmsRow);
    if (!m_tileQuery->exec()) {
        *problem = QStringLiteral("The map file \"%1\" cannot be read: %2")
                       .arg(fileName(), m_tileQuery->lastError().databaseText());
        return {};
    }
    QByteArray data = m_tileQuery->next() ? m_tileQuery->value(0).toByteArray() : QByteArray();
    m_tileQuery->finish();
    return data;
}
