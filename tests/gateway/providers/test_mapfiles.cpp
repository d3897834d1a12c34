// Map files and place files on this computer, asked for through the gateway's /mapdata as the
// program asks: every pixel from the tile the arithmetic says (rows stored flipped), the rules
// for bounds, zooms, missing tiles and damaged files, a file made by GDAL, and the place-file
// matching rules.
#include "Gateway.h"
#include "Gazetteer.h"
#include "MapFileWriter.h"
#include "gateway/server/RawHttp.h"

#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QSaveFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <cmath>
#include <memory>

namespace {

const QColor Background(0xdd, 0xdd, 0xdd);

// Places every picture below is centred on.
const QByteArray PlacesCsv = "name,lat,lon\nCentre,0,0\nWest,0,-90\nFar,50,100\nDelta,0,0.5\n";

bool write(const QString& path, const QByteArray& bytes)
{
    QSaveFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.commit();
}

// Damage done to a good map file: overwritten, cut short, scribbled over from the second page,
// removed, or an SQL statement run on it.
void damage(const QString& path, const QString& how)
{
    QFile f(path);
    if (how == QLatin1String("garbage"))
        write(path, QByteArray(5000, 'x'));
    else if (how == QLatin1String("cut"))
        f.resize(4096);
    else if (how == QLatin1String("remove"))
        QFile::remove(path);
    else if (how == QLatin1String("scribble")) {
        QVERIFY(f.open(QIODevice::ReadWrite));
        QByteArray all = f.readAll();
        for (qsizetype i = 4096; i < all.size(); ++i)
            all[i] = char((i * 7919) & 0xff);
        f.seek(0);
        f.write(all);
    } else if (!how.isEmpty()) { // an SQL statement, as another program might run it
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("change"));
            db.setDatabaseName(path);
            QVERIFY(db.open() && QSqlQuery(db).exec(how));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("change"));
    }
}

// A picture asked of map files, and which file's tiles of zoom 2 should be in it, drawn how large.
struct Drawn
{
    QList<MapFile> files;
    QString search;
    int webZoom = 2, marker = 0, drawnSize = 256;
    bool attribution = false;
};

// A picture refused, with the start of the reason given; the file is damaged first.
struct Refused
{
    QString reason;
    int status = 503;
    QString damage, search = QStringLiteral("Centre");
    int webZoom = 2;
    MapFile file = {};
};

struct Match
{
    QString search, country;
    double latitude, longitude; // NaN: no place found
};

} // namespace

Q_DECLARE_METATYPE(Drawn)
Q_DECLARE_METATYPE(Refused)
Q_DECLARE_METATYPE(Match)

class TestMapFiles : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<Gateway> gateway;

    void configure(const QStringList& mapFiles)
    {
        QStringList tiles;
        for (const QString& name : mapFiles)
            tiles << QStringLiteral("mbtiles:") + dir->filePath(name);
        QVERIFY(write(dir->filePath(QStringLiteral("gateway.conf")),
                      "[gateway]\nsource = tiles\n[tiles]\ngeocoder = gazetteer:" +
                          dir->filePath(QStringLiteral("places.csv")).toUtf8() +
                          "\ntiles = " + tiles.join(QStringLiteral(", ")).toUtf8() +
                          "\n[limits]\ncache_dir = " + dir->filePath(QStringLiteral("cache")).toUtf8() +
                          "\n"));
    }
    RawAnswer mapdata(const QString& search, int webZoom)
    {
        return rawGet(gateway->port(),
                      "/mapdata?q=" + QUrl::toPercentEncoding(search) + "&w=640&h=640&t=" +
                          gateway->pageToken() + "&zl=" + QByteArray::number(17 - webZoom),
                      {}, 10'000);
    }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(write(dir->filePath(QStringLiteral("places.csv")), PlacesCsv));
        Gateway::Options options;
        options.configPath = dir->filePath(QStringLiteral("gateway.conf"));
        gateway = std::make_unique<Gateway>(options);
        QVERIFY(gateway->listen(0));
    }
    void cleanup() { gateway.reset(); }

    void drawn_data();
    void drawn();
    void refused_data();
    void refused();
    void fileMadeByGdal();
    void matching_data();
    void matching();
    void placeFileReasonsAndRereading();
};

void TestMapFiles::drawn_data()
{
    QTest::addColumn<Drawn>("c");
    MapFile plain, views, large, shallow, west, world, credited;
    plain.has = [](int, int x, int y) { return !(x == 1 && y == 2); }; // one missing: background
    views = credited = plain;
    views.mapAndImages = true;
    large.tileSize = 512;
    shallow.zooms = {1, 2};
    west.bounds = QStringLiteral("-180,-85,-1,85");
    world.marker = 1;
    credited.attribution = QStringLiteral("Map tiles: Test Survey, data: Test County");
    QTest::newRow("256, rows flipped, a tile missing") << Drawn{{plain}, "Centre"};
    QTest::newRow("map and images instead of tiles") << Drawn{{views}, "Centre"};
    QTest::newRow("512 tiles, one zoom lower") << Drawn{{large}, "Centre", 3, 0, 512};
    QTest::newRow("two levels closer: scaled up") << Drawn{{shallow}, "Centre", 4, 0, 1024};
    QTest::newRow("three levels closer") << Drawn{{shallow}, "Delta", 5, 0, 2048};
    QTest::newRow("first file that covers it") << Drawn{{west, world}, "West"};
    QTest::newRow("the next when the first does not") << Drawn{{west, world}, "Centre", 2, 1};
    QTest::newRow("the file's attribution") << Drawn{{credited}, "Centre", 2, 0, 256, true};
}

// Sampled all over the picture, each pixel has the colour of the tile that should be under it.
void TestMapFiles::drawn()
{
    QFETCH(Drawn, c);
    const auto& [files, search, webZoom, marker, drawnSize, attribution] = c;
    const int tileZoom = 2;
    QStringList names;
    for (const MapFile& f : files) {
        names << QStringLiteral("map%1.mbtiles").arg(names.size());
        QVERIFY(writeMapFile(dir->filePath(names.last()), f));
    }
    configure(names);
    const RawAnswer answer = mapdata(search, webZoom);
    QVERIFY2(answer.status() == 200, answer.statusLine.constData());
    const QImage picture = QImage::fromData(answer.body);
    QCOMPARE(picture.size(), QSize(640, 640));

    const double lon = search == QLatin1String("West") ? -90 : search == QLatin1String("Delta") ? 0.5 : 0;
    const double world = double(1 << tileZoom) * drawnSize;
    const qint64 left = std::llround((lon + 180) / 360 * world - 320);
    const qint64 top = std::llround(world / 2 - 320);
    const MapFile& used = files[marker];
    int checked = 0;
    for (int py = 12; py < 620; py += 23) {
        for (int px = 12; px < 630; px += 23) {
            const qint64 wx = ((left + px) % qint64(world) + qint64(world)) % qint64(world), wy = top + py;
            if (wx % drawnSize < 3 || wx % drawnSize > drawnSize - 3 || wy % drawnSize < 3 ||
                wy % drawnSize > drawnSize - 3 || (py > 600 && px > 300)) {
                continue; // tile edges are smoothed when scaled; the corner may hold the attribution
            }
            const int tx = int(wx / drawnSize), ty = int(wy / drawnSize);
            const QColor want =
                used.has(tileZoom, tx, ty) ? tileColour(used.marker, tileZoom, tx, ty) : Background;
            const QString at = QStringLiteral("at %1,%2: ").arg(px).arg(py);
            QVERIFY2(picture.pixelColor(px, py) == want,
                     qPrintable(at + picture.pixelColor(px, py).name() + " where wanted " + want.name()));
            ++checked;
        }
    }
    QVERIFY(checked > 400);
    int dark = 0;
    for (int y = 626; y < 638; ++y)
        for (int x = 400; x < 636; ++x)
            dark += qGray(picture.pixel(x, y)) < 80;
    QCOMPARE(dark > 60, attribution);
}

void TestMapFiles::refused_data()
{
    QTest::addColumn<Refused>("c");
    const QString map = QStringLiteral("The map file \"map.mbtiles\" ");
    MapFile bounded, eastern;
    bounded.bounds = QStringLiteral("-20,-20,20,20");
    eastern.has = [](int, int x, int) { return x >= 2; };
    QTest::newRow("outside the bounds")
        << Refused{map + "holds no map of \"Far\"", 404, "", "Far", 2, bounded};
    QTest::newRow("bounds from the tiles when the file names none")
        << Refused{map + "holds no map of \"West\"", 404, "", "West", 2, eastern};
    QTest::newRow("four levels closer")
        << Refused{map + "has no map at zoom 6; its closest is zoom 2", 404, "", "Centre", 6};
    QTest::newRow("farther out than it goes")
        << Refused{map + "has no map at zoom 1; its farthest is zoom 2", 404, "", "Centre", 1};
    QTest::newRow("no place") << Refused{"No place found for \"Xyzzy\" in \"places.csv\"", 404, "", "Xyzzy"};
    QTest::newRow("not SQLite") << Refused{map + "is not an MBTiles map file", 503, "garbage"};
    QTest::newRow("cut short") << Refused{map, 503, "cut"};
    QTest::newRow("pages overwritten") << Refused{map, 503, "scribble"};
    QTest::newRow("SQLite without tiles")
        << Refused{map + "is not an MBTiles map file: it has no tiles", 503, "DROP TABLE tiles"};
    QTest::newRow("tiles that are not pictures") << Refused{map + "holds tiles that are not pictures", 503,
                                                            "UPDATE tiles SET tile_data = 'not a picture'"};
    QTest::newRow("no file there") << Refused{map + "is not there", 503, "remove"};
}

// What cannot be drawn is answered with a reason naming the file or the search; nothing hangs.
void TestMapFiles::refused()
{
    QFETCH(Refused, c);
    const auto& [reason, status, damage, search, webZoom, file] = c;
    const QString path = dir->filePath(QStringLiteral("map.mbtiles"));
    QVERIFY(writeMapFile(path, file));
    ::damage(path, damage);
    configure({QStringLiteral("map.mbtiles")});
    const RawAnswer answer = mapdata(search, webZoom);
    QCOMPARE(answer.status(), status);
    QVERIFY2(answer.reason().startsWith(reason.toUtf8()), answer.reason().constData());
}

// A file made by GDAL from a picture half red, half blue, over 10 degrees around (0, 0).
void TestMapFiles::fileMadeByGdal()
{
    const QString gdal = QStandardPaths::findExecutable(QStringLiteral("gdal_translate"));
    if (gdal.isEmpty())
        QSKIP("gdal_translate is not installed (scripts/setup installs it)");
    QImage source(200, 200, QImage::Format_RGB32);
    source.fill(Qt::blue);
    QPainter(&source).fillRect(0, 0, 100, 200, Qt::red);
    QVERIFY(source.save(dir->filePath(QStringLiteral("halves.png"))));
    QProcess run;
    run.start(gdal, QStringLiteral("-q -of MBTILES -a_srs EPSG:4326 -a_ullr -10 10 10 -10").split(u' ')
                        << dir->filePath(QStringLiteral("halves.png"))
                        << dir->filePath(QStringLiteral("gdal.mbtiles")));
    QVERIFY(run.waitForFinished(60'000));
    QVERIFY2(run.exitCode() == 0, run.readAllStandardError().constData());
    configure({QStringLiteral("gdal.mbtiles")});

    const RawAnswer answer = mapdata(QStringLiteral("Centre"), 4); // the zoom GDAL chose for it
    QVERIFY2(answer.status() == 200, answer.statusLine.constData());
    const QImage picture = QImage::fromData(answer.body);
    // 5 degrees either side of the middle, and 20 degrees out, beyond the picture's edge.
    const int fiveDegrees = int(4096 / 360.0 * 5);
    QCOMPARE(picture.pixelColor(320 - fiveDegrees, 320), QColor(Qt::red));
    QCOMPARE(picture.pixelColor(320 + fiveDegrees, 320), QColor(Qt::blue));
    QCOMPARE(picture.pixelColor(320 - 4 * fiveDegrees, 320), Background);
    QCOMPARE(mapdata(QStringLiteral("Far"), 4).status(), 404);
}

void TestMapFiles::matching_data()
{
    QTest::addColumn<Match>("c");
    const double none = std::nan("");
    QTest::newRow("name and division code") << Match{"Haverhill MA", "", 42.7762, -71.0773};
    QTest::newRow("with a comma") << Match{"Haverhill, ENG", "", 52.0823, 0.4388};
    QTest::newRow("name and country; UK is GB") << Match{"Londonderry UK", "", 54.9966, -7.3086};
    QTest::newRow("name, division and country") << Match{"Londonderry NH USA", "", 42.8651, -71.374};
    QTest::newRow("bare name: most populous") << Match{"Haverhill", "", 42.7762, -71.0773};
    QTest::newRow("bare name: the country setting first") << Match{"haverhill", "GB", 52.0823, 0.4388};
    QTest::newRow("case and accents") << Match{"ZURICH", "", 47.3667, 8.55};
    QTest::newRow("accents typed, none in the file")
        << Match{QStringLiteral("S\u00e3o Paulo"), "", -23.5475, -46.6361};
    QTest::newRow("postal code") << Match{"01830", "US", 42.7856, -71.0733};
    QTest::newRow("postal code, the country setting picks") << Match{"01830", "FI", 60.3, 24.9};
    QTest::newRow("postal code and a country word") << Match{"01830 FI", "US", 60.3, 24.9};
    QTest::newRow("postal code alone: the first") << Match{"01830", "", 42.7856, -71.0733};
    QTest::newRow("CSV with a header") << Match{"Old Mill", "", 51.5, -0.1};
    QTest::newRow("CSV name in quotes") << Match{"Smith, Jones & Co", "", 40.0, -75.0};
    QTest::newRow("CSV without a header") << Match{"blue pond", "", 10.0, 20.0};
    QTest::newRow("a header is no place") << Match{"name", "", none, none};
    QTest::newRow("wrong division") << Match{"Haverhill NH", "", none, none};
    QTest::newRow("unknown") << Match{"Xyzzy", "", none, none};
}

// Each matching rule, over one file of each kind.
void TestMapFiles::matching()
{
    QFETCH(Match, c);
    const auto place = [](const char* name, const char* ascii, double lat, double lon, const char* cc,
                          const char* admin1, int population) {
        return QByteArray("1\t") + name + '\t' + ascii + "\t\t" + QByteArray::number(lat) + '\t' +
               QByteArray::number(lon) + "\tP\tPPL\t" + cc + "\t\t" + admin1 + "\t\t\t\t" +
               QByteArray::number(population) + "\t\t10\tEurope/X\t2024-01-01\n";
    };
    const QByteArray places =
        place("Haverhill", "Haverhill", 52.0823, 0.4388, "GB", "ENG", 27041) +
        place("Haverhill", "Haverhill", 42.7762, -71.0773, "US", "MA", 60879) +
        place("Londonderry", "Londonderry", 54.9966, -7.3086, "GB", "NIR", 83652) +
        place("Londonderry", "Londonderry", 42.8651, -71.374, "US", "NH", 24129) +
        place("Z\xc3\xbcrich", "Zurich", 47.3667, 8.55, "CH", "ZH", 341730) +
        place("S\xc3\xa3o Paulo", "Sao Paulo", -23.5475, -46.6361, "BR", "27", 10021295);
    const QByteArray postal =
        "US\t01830\tHaverhill\tMassachusetts\tMA\tEssex\t009\t\t\t42.7856\t-71.0733\t4\r\n"
        "FI\t01830\tLahela\tUusimaa\t18\t\t\t\t\t60.3\t24.9\t\r\n";
    const QByteArray withHeader = "name,lat,lon\nOld Mill,51.5,-0.1\n\"Smith, Jones & Co\",40,-75\n";
    const QByteArray noHeader = "Blue Pond,10,20";
    QList<std::shared_ptr<const GazetteerIndex>> files;
    for (const auto& [name, text] : {std::pair{"cities.txt", places}, std::pair{"US.txt", postal},
                                     std::pair{"header.csv", withHeader}, std::pair{"plain.csv", noHeader}}) {
        QVERIFY(write(dir->filePath(QLatin1String(name)), text));
        QString problem;
        files << GazetteerIndex::read(dir->filePath(QLatin1String(name)), &problem);
        QVERIFY2(files.last(), qPrintable(problem));
    }
    const GazetteerMatch match = lookUpPlace(files, c.search, c.country);
    QCOMPARE(match.found, !std::isnan(c.latitude));
    if (match.found) {
        QVERIFY2(std::abs(match.latitude - c.latitude) < 1e-4 &&
                     std::abs(match.longitude - c.longitude) < 1e-4,
                 qPrintable(match.which));
    }
}

// What the gateway says when a place file cannot be used, and a changed file read again.
void TestMapFiles::placeFileReasonsAndRereading()
{
    const QString csv = dir->filePath(QStringLiteral("places.csv"));
    const QString binary = dir->filePath(QStringLiteral("binary.txt"));
    QVERIFY(write(binary, QByteArray("\x89PNG\r\n\x1a\n\0\0\0", 11)));
    const auto ask = [](Gazetteer& g, const QString& search) {
        Gazetteer::Result result;
        bool done = false;
        g.find(search, [&](const Gazetteer::Result& r) {
            result = r;
            done = true;
        });
        [&] { QVERIFY(QTest::qWaitFor([&] { return done; }, 10'000)); }();
        return result;
    };
    Gazetteer unusable({binary, dir->filePath(QStringLiteral("gone.txt"))}, {});
    const Gazetteer::Result refused = ask(unusable, QStringLiteral("Centre"));
    QCOMPARE(refused.status, 503);
    QCOMPARE(
        refused.problem,
        QStringLiteral("The place file \"binary.txt\" is neither a GeoNames dump nor a CSV of name,lat,lon"));

    Gazetteer partly({csv, binary}, {});
    QCOMPARE(ask(partly, QStringLiteral("Centre")).status, 200);  // one usable file is enough to find it
    QCOMPARE(ask(partly, QStringLiteral("Nowhere")).status, 503); // but it may be in the other

    Gazetteer places({csv}, {});
    QCOMPARE(ask(places, QStringLiteral("Nowhere")).status, 404);
    QVERIFY(write(csv, PlacesCsv + "Nowhere,1,2\n"));
    QTest::qWait(1100);                     // files are looked at no more than once a second
    ask(places, QStringLiteral("Nowhere")); // notices the change, reads it in the background
    QVERIFY(QTest::qWaitFor([&] { return ask(places, QStringLiteral("Nowhere")).status == 200; }, 10'000));
}

QTEST_MAIN(TestMapFiles)
#include "test_mapfiles.moc"
