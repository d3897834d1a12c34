// The whole road with a provider: the program presses Start, the gateway (its own process)
// asks stand-in providers (another process) and the program writes real JPGs of what they drew.
#include "MapFileWriter.h"
#include "app/Form1.h"
#include "locations/LocationList.h"
#include "platform/qt/QtImageFormat.h"
#include "platform/qt/QtNetwork.h"
#include "support/CaptureWindow.h"
#include "support/GatewayProcess.h"
#include "support/ProviderStandInProcess.h"

#include <QImage>
#include <QPushButton>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QtTest>

#include <QSet>

#include <cmath>
#include <memory>
#include <numbers>

using namespace std::chrono_literals;

namespace {

const QByteArray Key = "e2e-SECRET-key-0815";

} // namespace

class TestGatewayProviders : public QObject
{
    Q_OBJECT

    ProviderStandInProcess providers{{QStringLiteral("--key"), QString::fromLatin1(Key)}};
    QTemporaryDir dir;
    std::unique_ptr<GatewayProcess> gateway;
    QtNetwork network;
    QtImageFormat images;
    std::unique_ptr<CaptureWindow> app;

    QString configPath() const { return dir.filePath(QStringLiteral("gateway.conf")); }
    void writeConfig(const QByteArray& sourceSection)
    {
        QSaveFile file(configPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[gateway]\n" + sourceSection + "key = " + Key + "\n");
        const QByteArray base = providers.baseUrl().toUtf8();
        file.write("[static]\nurl = " + base +
                   "/staticmap?center={search}&zoom={zoom}&size={width}x{height}&key={key}\n");
        file.write("[tiles]\ngeocoder = " + base + "/search?q={search}&format=json&key={key}\n");
        file.write("tiles = " + base + "/tiles/{z}/{x}/{y}.png?key={key}\n");
        file.write("attribution = Map tiles: Stand-in Tiles, data: Stand-in County\n");
        file.write("geocoder_requests_per_second = 50\n");
        file.write("[limits]\ncache_dir = " + dir.filePath(QStringLiteral("cache")).toUtf8() + "\n");
        QVERIFY(file.commit());
    }
    void start(const QStringList& locations)
    {
        app->form.locations().appendMany(locations);
        app->form.PushButton17->click();
        QCOMPARE(app->fake.window.boxTexts().last(), QStringLiteral("Done."));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(!providers.baseUrl().isEmpty());
        writeConfig("source = tiles\n");
        gateway = std::make_unique<GatewayProcess>(QStringList{QStringLiteral("--config"), configPath()});
        QVERIFY2(gateway->isRunning(), qPrintable(gateway->errorString()));
        network.setDeadline(25s);
    }
    void init()
    {
        app = std::make_unique<CaptureWindow>(network, images, gateway->baseUrl(), QStringLiteral("5"));
    }
    void cleanup() { app.reset(); }

    // The samples become stitched pictures with the attribution in their corner.
    void samplesFromTiles()
    {
        app->form.PushButton5->click();
        start({});
        QCOMPARE(app->fake.window.boxTexts(), QStringList{QStringLiteral("Done.")});
        const QStringList names = CaptureWindow::sampleJpgs(QStringLiteral("5"));
        QCOMPARE(app->jpgs(), names);
        for (const QString& name : names) {
            const QImage jpg(app->out.filePath(name));
            QCOMPARE(jpg.size(), QSize(640, 640));
            // Dark letters on a light band in the bottom-right corner; none at the top left.
            const auto dark = [&](int x0, int y0) {
                int n = 0;
                for (int y = y0; y < y0 + 14; ++y)
                    for (int x = x0; x < x0 + 200; ++x)
                        n += qGray(jpg.pixel(x, y)) < 110;
                return n;
            };
            QVERIFY2(dark(436, 624) > 150, qPrintable(QString::number(dark(436, 624))));
            QCOMPARE(dark(4, 4), 0);
            QVERIFY(qGray(jpg.pixel(638, 626)) > 200);
        }
    }

    // A place the geocoder does not know is reported with the gateway's reason, and the run goes on.
    void noPlaceIsReported()
    {
        start({QStringLiteral("Xyzzy"), QStringLiteral("Haverhill MA")});
        const QString report = app->fake.window.boxTexts().first();
        QVERIFY2(report.contains(QStringLiteral("No place found for \"Xyzzy\"")), qPrintable(report));
        QCOMPARE(app->jpgs(), QStringList{QStringLiteral("Haverhill MA_5.jpg")});
    }

    // Switching the configuration to the static-map provider takes effect without a restart,
    // and the key shows up in none of the gateway's log lines.
    void staticWithoutRestartAndNoKeyInTheLog()
    {
        writeConfig("source = static\n");
        start({QStringLiteral("Haverhill MA")});
        const QImage jpg(app->out.filePath(QStringLiteral("Haverhill MA_5.jpg")));
        QCOMPARE(jpg.size(), QSize(640, 640));
        QVERIFY(qGray(jpg.pixel(638, 626)) < 250); // the static picture has no attribution band
        const QStringList log = gateway->log();
        QVERIFY(!log.isEmpty());
        for (const QString& line : log)
            QVERIFY2(!line.toUtf8().contains(Key), qPrintable(line));
        writeConfig("source = tiles\n");
    }

    // A provider chosen by name, its server pointed at the stand-ins: the picture comes from its
    // documented address, with the gateway's pin on the place.
    void namedProviderWithItsPin()
    {
        writeConfig("source = stadia\nserver = " + providers.baseUrl().toUtf8() + "\n");
        start({QStringLiteral("Haverhill MA")});
        const QImage jpg(app->out.filePath(QStringLiteral("Haverhill MA_5.jpg")));
        QCOMPARE(jpg.size(), QSize(640, 640));
        const QColor pin = jpg.pixelColor(314, 298); // the head of the pin standing on the middle
        QVERIFY2(pin.red() > 170 && pin.green() < 110 && pin.blue() < 110, qPrintable(pin.name()));
        writeConfig("source = tiles\n");
    }

    // With a map file and place files on this computer the pictures are that file's tiles around
    // the places the files name, found by division, postal code and country; no provider is asked.
    void mapAndPlaceFilesWithNoNetwork()
    {
        struct Place
        {
            QString search;
            double latitude, longitude;
        };
        const QList<Place> places{{QStringLiteral("Haverhill MA"), 42.7762, -71.0773},
                                  {QStringLiteral("01830"), 42.7856, -71.0733},
                                  {QStringLiteral("Londonderry UK"), 54.9966, -7.3086}};
        const int zoom = 13; // zoom 5 in the window asks for zl=4
        const auto pixel = [&](double latitude, double longitude) {
            const double world = 256.0 * (1 << zoom), lat = latitude * std::numbers::pi / 180;
            return QPointF((longitude + 180) / 360 * world,
                           (1 - std::asinh(std::tan(lat)) / std::numbers::pi) / 2 * world);
        };
        QSet<QPoint> needed;
        for (const Place& p : places) {
            const QPointF centre = pixel(p.latitude, p.longitude);
            for (int x = int(centre.x() - 320) / 256; x <= int(centre.x() + 320) / 256; ++x)
                for (int y = int(centre.y() - 320) / 256; y <= int(centre.y() + 320) / 256; ++y)
                    needed.insert(QPoint(x, y));
        }
        const auto colour = [](int x, int y) { return QColor(40 + 50 * (x % 4), 40 + 50 * (y % 4), 200); };
        MapFile region;
        region.zooms = {zoom};
        region.attribution = QStringLiteral("Test Survey");
        region.has = [&](int, int x, int y) { return needed.contains(QPoint(x, y)); };
        region.draw = [&](int, int x, int y, int size) {
            QImage tile(size, size, QImage::Format_RGB32);
            tile.fill(colour(x, y));
            return tile;
        };
        QVERIFY(writeMapFile(dir.filePath(QStringLiteral("region.mbtiles")), region));
        const auto write = [&](const char* name, const QByteArray& text) {
            QSaveFile f(dir.filePath(QLatin1String(name)));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(text);
            QVERIFY(f.commit());
        };
        write("cities500.txt",
              "4939085\tHaverhill\tHaverhill\t\t42.7762\t-71.0773\tP\tPPL\tUS\t\tMA\t009\t\t\t60879"
              "\t\t27\tAmerica/New_York\t2017-05-23\n"
              "2643736\tLondonderry\tLondonderry\tDerry\t54.9966\t-7.3086\tP\tPPLA2\tGB\t\tNIR"
              "\tN09000005\t\t\t83652\t\t36\tEurope/London\t2019-03-26\n");
        write("US.txt", "US\t01830\tHaverhill\tMassachusetts\tMA\tEssex\t009\t\t\t42.7856\t-71.0733\t4\n");
        QSaveFile file(configPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[gateway]\nsource = tiles\n[tiles]\ngeocoder = gazetteer:" +
                   dir.filePath(QStringLiteral("cities500.txt")).toUtf8() +
                   ", gazetteer:" + dir.filePath(QStringLiteral("US.txt")).toUtf8() + "\ntiles = mbtiles:" +
                   dir.filePath(QStringLiteral("region.mbtiles")).toUtf8() + "\ncountry = US\n");
        QVERIFY(file.commit());

        start({places[0].search, places[1].search, places[2].search});
        QCOMPARE(app->fake.window.boxTexts(), QStringList{QStringLiteral("Done.")});
        for (const Place& p : places) {
            const QImage jpg(app->out.filePath(p.search + QStringLiteral("_5.jpg")));
            QCOMPARE(jpg.size(), QSize(640, 640));
            // The middle of the picture is the place: the tile under it, and its neighbours around.
            const QPointF centre = pixel(p.latitude, p.longitude);
            for (const QPoint offset : {QPoint(40, 40), QPoint(-200, -200), QPoint(200, 150)}) {
                const QPointF at = centre + offset;
                const QColor want = colour(int(at.x()) / 256, int(at.y()) / 256);
                const QColor got = jpg.pixelColor(QPoint(320, 320) + offset);
                if (std::fmod(at.x(), 256) < 4 || std::fmod(at.x(), 256) > 252 ||
                    std::fmod(at.y(), 256) < 4 || std::fmod(at.y(), 256) > 252)
                    continue; // JPEG blurs the edges between tiles
                QVERIFY2(
                    std::abs(got.red() - want.red()) < 12 && std::abs(got.green() - want.green()) < 12 &&
                        std::abs(got.blue() - want.blue()) < 12,
                    qPrintable(p.search + QLatin1Char(' ') + got.name() + QLatin1Char(' ') + want.name()));
            }
        }
        writeConfig("source = tiles\n");
    }
};

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    TestGatewayProviders test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_gatewayproviders.moc"
