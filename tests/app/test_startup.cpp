#include "app/Form1.h"
#include "app/Startup.h"
#include "locations/LocationList.h"
#include "support/TestPlatform.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QSlider>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include <memory>

// Reaches the window's close handling as the platform does.
class Form1Access
{
public:
    static void close(Form1& form)
    {
        QCloseEvent event;
        form.closeEvent(&event);
    }
};

// Start-up restores what the last run left; closing saves the list and ends the program.
class TestStartup : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestPlatform> fake;
    std::unique_ptr<Form1> form;
    std::unique_ptr<QTemporaryDir> programFolder;

    void load()
    {
        form = std::make_unique<Form1>(fake->platform);
        form->Form_Load();
    }
    QStringList listed() const
    {
        QStringList out;
        for (int i = 1; i <= form->locations().count(); ++i)
            out << form->locations().locationAt(i);
        return out;
    }
    bool closeEndsTheProgram()
    {
        try {
            Form1Access::close(*form);
        } catch (const ProgramEnded&) {
            return true;
        }
        return false;
    }
    QString touch(const QString& name)
    {
        const QString path = programFolder->filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        QFile(path).open(QIODevice::WriteOnly);
        return path;
    }

private slots:
    void init()
    {
        fake = std::make_unique<TestPlatform>();
        programFolder = std::make_unique<QTemporaryDir>();
        fake->shell.program = programFolder->path();
    }
    void cleanup() { form.reset(); }

    void firstStart()
    {
        load();
        QVERIFY(fake->window.boxes.empty());
        QCOMPARE(form->windowTitle(), QStringLiteral("Orrowdale"));
        QCOMPARE(fake->window.applicationTitle(),
                 QStringLiteral("Orrowdale")); // a name without a blank stays whole
        // Cut word by word to 40 characters at most: four cuts here.
        QCOMPARE(ApplicationTitle(
                     QStringLiteral("Alpha Bravo Charlie Delta Echo Foxtrot abcde fghij klmno pqrstu")),
                 QStringLiteral("Alpha Bravo Charlie Delta Echo Foxtrot"));
        QCOMPARE(form->windowIcon().availableSizes(),
                 (QList<QSize>{{32, 32}, {48, 48}, {128, 128}, {256, 256}}));
        QCOMPARE(form->locations().headerData(0, Qt::Horizontal, Qt::DisplayRole),
                 QVariant(QStringLiteral("Google Map Location(s)")));
        QCOMPARE(form->ListView1->columnWidth(0), 467);
        QCOMPARE(form->Text1->text(), QStringLiteral("/home/user/Desktop/"));
        QCOMPARE(form->Text2->text(), QStringLiteral("1"));
        QCOMPARE(form->Slider1->value(), 85);
        QCOMPARE(form->Frame3->title(), QStringLiteral("Output JPG image quality: 85%"));
        // Only the folder is stored at once: the zoom text did not change, the slider was not clicked.
        QCOMPARE(fake->settings.stored.size(), size_t(1));
        QCOMPARE(fake->settings.get(QStringLiteral("Output Folder")), QStringLiteral("/home/user/Desktop/"));
        QVERIFY(!form->hasCustomPointer());
        QVERIFY(fake->skin.calls.isEmpty());
    }

    void restores_data()
    {
        QTest::addColumn<QString>("zipCodes");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("zoom");
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<QString>("zoomShown");
        QTest::newRow("two locations") << "Londonderry UK;Haverhill MA;"
                                       << "/gone/"
                                       << "7" << QStringList{"Londonderry UK", "Haverhill MA"} << "7";
        QTest::newRow("empty pieces, blanks, no final ;") << ";a;; 03087 ;b"
                                                          << ""
                                                          << "abc" << QStringList{"a", " 03087 ", "b"} << "1";
    }
    void restores()
    {
        QFETCH(QString, zipCodes);
        QFETCH(QString, folder);
        QFETCH(QString, zoom);
        fake->settings.set(QStringLiteral("Zip Codes"), zipCodes);
        fake->settings.set(QStringLiteral("Output Folder"), folder);
        fake->settings.set(QStringLiteral("Zoom"), zoom);
        fake->settings.set(QStringLiteral("Slider1"), QStringLiteral("60"));
        touch(QStringLiteral("HAND-M.CUR"));
        load();
        QVERIFY(fake->window.boxes.empty());
        QTEST(listed(), "list");
        QCOMPARE(form->Text1->text(), folder); // an empty one stays empty
        QTEST(form->Text2->text(), "zoomShown");
        QCOMPARE(form->Frame3->title(), QStringLiteral("Output JPG image quality: 60%"));
        QVERIFY(fake->settings.storedValues(QStringLiteral("Slider1")).isEmpty());
        QVERIFY(form->hasCustomPointer());
    }

    void failuresAreReportedAndStartUpGoesOn_data()
    {
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("quality");
        QTest::newRow("skin") << 102 << "85";
        QTest::newRow("hand pointer") << 110 << "85";
        QTest::newRow("desktop") << 148 << "85";
        QTest::newRow("quality not a number") << 152 << "high";
        QTest::newRow("quality out of range") << 152 << "150";
    }
    void failuresAreReportedAndStartUpGoesOn()
    {
        QFETCH(int, line);
        QFETCH(QString, quality);
        fake->settings.set(QStringLiteral("Zip Codes"), QStringLiteral("a;b;"));
        fake->settings.set(QStringLiteral("Output Folder"), QStringLiteral("/maps/"));
        fake->settings.set(QStringLiteral("Slider1"), quality);
        touch(QStringLiteral("x/o.cjs"));
        touch(QStringLiteral("HAND-M.CUR"));
        fake->skin.failLoad = line == 102;
        fake->shell.desktopFails = line == 148;
        if (line == 110)
            fake->window.onLoadCursor = [](const QString&) -> QCursor {
                throw PlatformError(QStringLiteral("bad"));
            };
        load();

        QCOMPARE(fake->window.boxes.size(), size_t(1));
        QVERIFY(fake->window.boxes.front().text.contains(
            QStringLiteral("\r\nin Kestrelby2016/11/03.Form1.Form_Load at line %1\r\r").arg(line)));
        // What follows the failing statement still happened.
        QCOMPARE(form->windowTitle(), QStringLiteral("Orrowdale"));
        QCOMPARE(listed(), (QStringList{"a", "b"}));
        QCOMPARE(form->Frame3->title(), QStringLiteral("Output JPG image quality: 85%"));
        // Skin: the colours changed before the load failed, nothing after it was done.
        QCOMPARE(fake->skin.calls.size(), line == 102 ? 1 : 5);
        QCOMPARE(form->Frame2->palette().color(QPalette::Window),
                 QApplication::palette().color(QPalette::Button));
        QCOMPARE(form->hasCustomPointer(), line != 110);
        // Without a desktop the box keeps its empty text and the stored folder is untouched.
        QCOMPARE(form->Text1->text(), line == 148 ? QString() : QStringLiteral("/maps/"));
        QCOMPARE(fake->settings.get(QStringLiteral("Output Folder")), QStringLiteral("/maps/"));
    }

    void skinFile_data()
    {
        QTest::addColumn<bool>("asFolder");
        QTest::newRow("file") << false;
        QTest::newRow("a folder named o.cjs") << true;
    }
    void skinFile()
    {
        QFETCH(bool, asFolder);
        const QString skin = programFolder->filePath(QStringLiteral("x/o.cjs"));
        asFolder ? (void)QDir().mkpath(skin) : (void)touch(QStringLiteral("x/o.cjs"));
        load();
        const QStringList calls{QStringLiteral("load %1 []").arg(skin), QStringLiteral("options 65"),
                                QStringLiteral("dialogs 1"), QStringLiteral("frames 1"),
                                QStringLiteral("apply")};
        QCOMPARE(fake->skin.calls, asFolder ? QStringList() : calls); // bit 1 joins the bits already set
        QCOMPARE(form->palette().color(QPalette::Window),
                 asFolder ? QColor(Qt::white) : QApplication::palette().color(QPalette::Button));
        QCOMPARE(form->Frame1->palette().color(QPalette::Window),
                 asFolder ? QColor(Qt::white) : QApplication::palette().color(QPalette::Button));
    }

    void closeSavesTheListAndEnds_data()
    {
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QStringList>("restored");
        QTest::newRow("two") << QStringList{"Londonderry UK", "Haverhill MA"}
                             << "Londonderry UK;Haverhill MA;"
                             << QStringList{"Londonderry UK", "Haverhill MA"};
        QTest::newRow("empty list") << QStringList{} << "" << QStringList{};
        QTest::newRow("empty and ; inside") << QStringList{"", "a;b"} << ";a;b;" << QStringList{"a", "b"};
    }
    void closeSavesTheListAndEnds()
    {
        QFETCH(QStringList, list);
        load();
        form->locations().appendMany(list);
        QVERIFY(closeEndsTheProgram());
        QVERIFY(fake->settings.has(QStringLiteral("Zip Codes")));
        QTEST(fake->settings.get(QStringLiteral("Zip Codes")), "saved");
        load(); // the next start
        QTEST(listed(), "restored");
    }

    void moreThan32766LocationsComeBack()
    {
        load();
        QStringList many;
        for (int i = 0; i < 40'000; ++i)
            many << QString::number(i);
        form->locations().appendMany(many);
        QVERIFY(closeEndsTheProgram());
        load();
        QCOMPARE(listed(), many);
    }

    void failedSaveHoldsTheCloseOnce()
    {
        load();
        form->locations().append(QStringLiteral("Haverhill MA"));
        fake->settings.failStores = true;
        QVERIFY(!closeEndsTheProgram());
        QCOMPARE(fake->window.boxes.size(), size_t(1));
        QCOMPARE(form->locations().count(), 1);
        QVERIFY(closeEndsTheProgram()); // the user chose to quit anyway
    }

    void closeDuringARunEndsAtOnce()
    {
        load();
        form->locations().appendMany({QStringLiteral("Londonderry UK"), QStringLiteral("Haverhill MA")});
        // A stand-in for the capture run: a work file, its removal hooked, a yield before each fetch.
        const QString work = touch(QStringLiteral("Londonderry UK_1.gif"));
        form->setEndHook([&] { QFile::remove(work); });
        auto run = [&] {
            for (int i = 1; i <= form->locations().count(); ++i) {
                fake->window.yield();
                fake->network.openUrl(QStringLiteral("http://maps.example/%1").arg(i));
            }
            fake->window.messageBox(QStringLiteral("Done."), 0);
        };
        fake->window.onYield = [&] {
            fake->window.onYield = nullptr;
            Form1Access::close(*form);
        };
        QVERIFY_THROWS_EXCEPTION(ProgramEnded, run());
        QVERIFY(fake->network.requests.isEmpty());
        QVERIFY(fake->window.boxes.empty());
        QVERIFY(!QFile::exists(work));
        QCOMPARE(fake->settings.get(QStringLiteral("Zip Codes")),
                 QStringLiteral("Londonderry UK;Haverhill MA;"));
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
