#include "app/Form1.h"
#include "locations/LocationList.h"
#include "platform/qt/QtImageFormat.h"
#include "platform/qt/QtNetwork.h"
#include "support/GatewayProcess.h"
#include "support/TestPlatform.h"

#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
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
    std::unique_ptr<TestPlatform> fake;
    std::unique_ptr<Platform> platform;
    std::unique_ptr<Form1> form;
    std::unique_ptr<QTemporaryDir> out, temp;

    QStringList reportTexts() const
    {
        QStringList texts;
        for (const auto& box : fake->window.boxes)
            if (box.title == u"Application Error")
                texts << box.text;
        return texts;
    }
    QStringList jpgs() const
    {
        return QDir(out->path()).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
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
        fake = std::make_unique<TestPlatform>();
        platform = std::make_unique<Platform>(
            Platform{fake->window, fake->settings, network, images, fake->dialogs, fake->skin, fake->shell});
        form = std::make_unique<Form1>(*platform);
        form->setMapBaseUrl(gateway->baseUrl());
        out = std::make_unique<QTemporaryDir>();
        temp = std::make_unique<QTemporaryDir>();
        fake->shell.variables.insert(QStringLiteral("TEMP"), temp->path());
        form->Text1->setText(out->path() + u'/');
        form->Text2->setText(QStringLiteral("1"));
    }
    void cleanup() { form.reset(); }

    void samplesGiveDemoPictures()
    {
        form->PushButton5->click();
        form->PushButton17->click();
        QCOMPARE(fake->window.boxTexts().last(), QStringLiteral("Done."));
        QCOMPARE(reportTexts(), QStringList());
        QCOMPARE(jpgs(),
                 (QStringList{"Haverhill MA_1.jpg", "Londonderry NH USA_1.jpg", "Londonderry UK_1.jpg"}));
        for (const QString& jpg : jpgs()) {
            const QImage picture(out->filePath(jpg));
            QCOMPARE(picture.size(), QSize(640, 640));
            QVERIFY(qGray(picture.pixel(600, 638)) < 90); // the band saying these are demo maps
        }
        QVERIFY(gateway->waitForLog(QStringLiteral("GET /mapdata?q=Londonderry%20UK&w=640&h=640&zl=0 200")));
    }

    void brokenConfigurationReportedThenMended()
    {
        writeConfig("[gateway]\nsource = tiles\n");
        form->locations().append(QStringLiteral("Haverhill MA"));
        form->PushButton17->click();
        const QStringList reports = reportTexts();
        QVERIFY(!reports.isEmpty());
        QVERIFY2(reports.constFirst().contains(
                     QStringLiteral("503 The map gateway's configuration needs a fix: ") + configPath),
                 qPrintable(reports.constFirst()));
        QCOMPARE(jpgs(), QStringList());

        writeConfig("[gateway]\nsource = demo\n");
        fake->window.boxes.clear();
        form->PushButton17->click();
        QCOMPARE(reportTexts(), QStringList());
        QCOMPARE(jpgs(), QStringList{QStringLiteral("Haverhill MA_1.jpg")});
    }
};

QTEST_MAIN(TestGatewayEndToEnd)
#include "test_gateway_endtoend.moc"
