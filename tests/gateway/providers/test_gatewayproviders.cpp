// The whole road with a provider: the program presses Start, the gateway (its own process)
// asks stand-in providers (another process) and the program writes real JPGs of what they drew.
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

#include <memory>

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
};

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    TestGatewayProviders test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_gatewayproviders.moc"
