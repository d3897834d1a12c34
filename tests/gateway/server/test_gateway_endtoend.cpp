#include "app/Form1.h"
#include "locations/LocationList.h"
#include "platform/qt/QtImageFormat.h"
#include "platform/qt/QtNetwork.h"
#include "support/CaptureWindow.h"
#include "support/GatewayProcess.h"

#include <QImage>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// The program, unchanged, against the gateway started by hand: Start with the samples gives
// demo JPGs with no network, a broken configuration gives a report the user can act on, and
// mending the file needs no restart.
class TestGatewayEndToEnd : public QObject
{
    Q_OBJECT

    QTemporaryDir home;
    QString configPath = home.filePath(QStringLiteral("gateway.conf"));
    std::unique_ptr<GatewayProcess> gateway;
    QtNetwork network;
    QtImageFormat images;
    std::unique_ptr<CaptureWindow> app;

    QStringList reportTexts() const
    {
        QStringList texts;
        for (const auto& box : app->fake.window.boxes)
            if (box.title == u"Application Error")
                texts << box.text;
        return texts;
    }
    void writeConfig(const QByteArray& text)
    {
        QSaveFile file(configPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
        QVERIFY(file.commit());
    }

private slots:
    void initTestCase()
    {
        gateway = std::make_unique<GatewayProcess>(QStringList{"--config", configPath});
        QVERIFY2(gateway->isRunning(), qPrintable(gateway->errorString()));
    }
    void init()
    {
        app = std::make_unique<CaptureWindow>(network, images, gateway->baseUrl(), QStringLiteral("1"));
    }
    void cleanup() { app.reset(); }

    void samplesGiveDemoPictures()
    {
        app->form.PushButton5->click();
        app->form.PushButton17->click();
        QCOMPARE(app->fake.window.boxTexts().last(), QStringLiteral("Done."));
        QCOMPARE(reportTexts(), QStringList());
        QCOMPARE(app->jpgs(), CaptureWindow::sampleJpgs(QStringLiteral("1")));
        for (const QString& jpg : app->jpgs()) {
            const QImage picture(app->out.filePath(jpg));
            QCOMPARE(picture.size(), QSize(640, 640));
            QVERIFY(qGray(picture.pixel(600, 638)) < 90); // the band saying these are demo maps
        }
        // The program asked for the address the page gave, token included, with its zoom added.
        const QRegularExpression asked(
            QStringLiteral("GET /mapdata\\?q=Londonderry%20UK&w=640&h=640&t=[0-9a-f]{32}&zl=0 200 \"OK\""));
        QTRY_VERIFY(!gateway->log().filter(asked).isEmpty());
    }

    void brokenConfigurationReportedThenMended()
    {
        writeConfig("[gateway]\nsource = tiles\n");
        app->form.locations().append(QStringLiteral("Haverhill MA"));
        app->form.PushButton17->click();
        const QStringList reports = reportTexts();
        QVERIFY(!reports.isEmpty());
        QVERIFY2(reports.constFirst().contains(
                     QStringLiteral("503 The map gateway's configuration needs a fix: ") + configPath),
                 qPrintable(reports.constFirst()));
        QCOMPARE(app->jpgs(), QStringList());

        writeConfig("[gateway]\nsource = demo\n");
        app->fake.window.boxes.clear();
        app->form.PushButton17->click();
        QCOMPARE(reportTexts(), QStringList());
        QCOMPARE(app->jpgs(), QStringList{QStringLiteral("Haverhill MA_1.jpg")});
    }
};

QTEST_MAIN(TestGatewayEndToEnd)
#include "test_gateway_endtoend.moc"
