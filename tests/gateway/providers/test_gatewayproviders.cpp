// The whole road with a provider: the program presses Start, the gateway (its own process)
// asks stand-in providers (another process) and the program writes real JPGs of what they drew.
#include "app/Form1.h"
#include "locations/LocationList.h"
#include "platform/qt/QtImageFormat.h"
#include "platform/qt/QtNetwork.h"
#include "support/GatewayProcess.h"
#include "support/ProviderStandInProcess.h"
#include "support/TestPlatform.h"

#include <QDir>
#include <QImage>
#include <QLineEdit>
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
    std::unique_ptr<TestPlatform> fake;
    std::unique_ptr<Platform> platform;
    std::unique_ptr<Form1> form;
    std::unique_ptr<QTemporaryDir> out, temp;

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
    QStringList jpgs() const
    {
        return QDir(out->path()).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
    }
    void start(const QStringList& locations)
    {
        form->locations().appendMany(locations);
        form->PushButton17->click();
        QCOMPARE(fake->window.boxTexts().last(), QStringLiteral("Done."));
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
        fake = std::make_unique<TestPlatform>();
        platform = std::make_unique<Platform>(
            Platform{fake->window, fake->settings, network, images, fake->dialogs, fake->skin, fake->shell});
        form = std::make_unique<Form1>(*platform);
        form->setMapBaseUrl(gateway->baseUrl());
        out = std::make_unique<QTemporaryDir>();
        temp = std::make_unique<QTemporaryDir>();
        fake->shell.variables.insert(QStringLiteral("TEMP"), temp->path());
        form->Text1->setText(out->path() + u'/');
        form->Text2->setText(QStringLiteral("5"));
    }
    void cleanup() { form.reset(); }

    // The samples become stitched pictures with the attribution in their corner.
    void samplesFromTiles()
    {
        form->PushButton5->click();
        start({});
        QCOMPARE(fake->window.boxTexts(), QStringList{QStringLiteral("Done.")});
        const QStringList names{"Haverhill MA_5.jpg", "Londonderry NH USA_5.jpg", "Londonderry UK_5.jpg"};
        QCOMPARE(jpgs(), names);
        for (const QString& name : names) {
            const QImage jpg(out->filePath(name));
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
        const QString report = fake->window.boxTexts().first();
        QVERIFY2(report.contains(QStringLiteral("No place found for \"Xyzzy\"")), qPrintable(report));
        QCOMPARE(jpgs(), QStringList{QStringLiteral("Haverhill MA_5.jpg")});
    }

    // Switching the configuration to the static-map provider takes effect without a restart,
    // and the key shows up in none of the gateway's log lines.
    void staticWithoutRestartAndNoKeyInTheLog()
    {
        writeConfig("source = static\n");
        start({QStringLiteral("Haverhill MA")});
        const QImage jpg(out->filePath(QStringLiteral("Haverhill MA_5.jpg")));
        QCOMPARE(jpg.size(), QSize(640, 640));
        QVERIFY(qGray(jpg.pixel(638, 626)) < 250); // the static picture has no attribution band
        const QStringList log = gateway->log();
        QVERIFY(!log.isEmpty());
        for (const QString& line : log)
            QVERIFY2(!line.toUtf8().contains(Key), qPrintable(line));
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
