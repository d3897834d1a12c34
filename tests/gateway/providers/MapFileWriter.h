#pragma once

#include <QBuffer>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QRect>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <functional>

// MBTiles files written through Qt SQL, as a map tool would: tiles numbered XYZ here, stored
// in the file's TMS rows.
struct MapFile
{
    int tileSize = 256;
    QList<int> zooms{2};
    QString bounds;            // "west,south,east,north"; none when empty
    QString attribution;       // none when empty
    bool mapAndImages = false; // the map/images layout instead of one tiles table
    QByteArray format = "PNG";
    int marker = 0; // tells two files' tiles apart
    QRect area;     // columns and rows written at every zoom; all when not valid
    // Which tiles there are, and how each looks; by default every tile, one colour.
    std::function<bool(int z, int x, int y)> has = [](int, int, int) { return true; };
    std::function<QImage(int z, int x, int y, int size)> draw;
};

// A colour that says which tile it is (and of which file: marker 0 or 1).
inline QColor tileColour(int marker, int z, int x, int y)
{
    return QColor(40 + 50 * (x % 4), 40 + 50 * (y % 4), 20 + 30 * z + 100 * marker);
}

inline bool writeMapFile(const QString& path, const MapFile& f)
{
    QFile::remove(path);
    bool ok = true;
    {
        const QString name = QStringLiteral("writer-") + path;
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        ok = db.open();
        QSqlQuery q(db);
        const auto exec = [&](const QString& sql) { ok = ok && q.exec(sql); };
        exec(QStringLiteral("CREATE TABLE metadata (name TEXT, value TEXT)"));
        // The map/images layout names each tile in map and keeps its picture in images.
        const QString table = f.mapAndImages ? QStringLiteral("map") : QStringLiteral("tiles");
        exec(QStringLiteral("CREATE TABLE %1 (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, %2)")
                 .arg(table,
                      f.mapAndImages ? QStringLiteral("tile_id TEXT") : QStringLiteral("tile_data BLOB")));
        // Indexed as the tools that make map files index them.
        exec(QStringLiteral("CREATE UNIQUE INDEX %1_index ON %1 (zoom_level, tile_column, tile_row)")
                 .arg(table));
        if (f.mapAndImages) {
            exec(QStringLiteral("CREATE TABLE images (tile_data BLOB, tile_id TEXT)"));
            exec(QStringLiteral("CREATE UNIQUE INDEX images_id ON images (tile_id)"));
        }
        const auto meta = [&](const char* key, const QString& value) {
            if (value.isEmpty())
                return;
            ok = ok && q.prepare(QStringLiteral("INSERT INTO metadata VALUES (?, ?)"));
            q.addBindValue(QString::fromLatin1(key));
            q.addBindValue(value);
            ok = ok && q.exec();
        };
        meta("name", QStringLiteral("test"));
        meta("format", QString::fromLatin1(f.format).toLower());
        meta("minzoom", QString::number(f.zooms.constFirst()));
        meta("maxzoom", QString::number(f.zooms.constLast()));
        meta("bounds", f.bounds);
        meta("attribution", f.attribution);
        db.transaction();
        for (const int z : f.zooms) {
            const QRect all(0, 0, 1 << z, 1 << z);
            const QRect area = f.area.isValid() ? f.area & all : all;
            for (int x = area.left(); x <= area.right(); ++x) {
                for (int y = area.top(); y <= area.bottom(); ++y) {
                    if (!f.has(z, x, y))
                        continue;
                    QImage tile(f.tileSize, f.tileSize, QImage::Format_RGB32);
                    if (f.draw)
                        tile = f.draw(z, x, y, f.tileSize);
                    else
                        tile.fill(tileColour(f.marker, z, x, y));
                    QByteArray bytes;
                    QBuffer buffer(&bytes);
                    buffer.open(QIODevice::WriteOnly);
                    tile.save(&buffer, f.format.constData());
                    const QString id = QStringLiteral("%1/%2/%3").arg(z).arg(x).arg(y);
                    q.prepare(QStringLiteral("INSERT INTO %1 VALUES (?, ?, ?, ?)").arg(table));
                    for (const QVariant& v : {QVariant(z), QVariant(x), QVariant((1 << z) - 1 - y),
                                              f.mapAndImages ? QVariant(id) : QVariant(bytes)})
                        q.addBindValue(v);
                    ok = ok && q.exec();
                    if (f.mapAndImages) {
                        q.prepare(QStringLiteral("INSERT INTO images VALUES (?, ?)"));
                        q.addBindValue(bytes);
                        q.addBindValue(id);
                        ok = ok && q.exec();
                    }
                }
            }
        }
        ok = db.commit() && ok;
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("writer-") + path);
    return ok;
}
