#include "app/Form1.h"
#include "app/Startup.h"
#include "locations/LocationList.h"
#include "platform/OrdinaryUser.h"
#include "platform/qt/QtSettingsStore.h"
#include "support/Form1Access.h"
#include "support/TestPlatform.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include <memory>
#include <stdexcept>

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
    void touch(const QString& name)
    {
        QDir().mkpath(QFileInfo(programFolder->filePath(name)).path());
        QFile(programFolder->filePath(name)).open(QIODevice::WriteOnly);
    }
    void set(const char* key, const QString& value) { fake->settings.set(QString::fromLatin1(key), value); }

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
        QCOMPARE(fake->window.applicationTitle(), QStringLiteral("Orrowdale"));
        QCOMPARE(form->locations().headerData(0, Qt::Horizontal, Qt::DisplayRole),
                 QVariant(QStringLiteral("Google Map Location(s)")));
        QCOMPARE(form->Text1->text(), QStringLiteral("/home/user/Desktop/"));
        QCOMPARE(form->Text2->text(), QStringLiteral("1"));
        QCOMPARE(form->Frame3->title(), QStringLiteral("Output JPG image quality: 85%"));
        // Only the folder is stored at once.
        QCOMPARE(fake->settings.stored.size(), size_t(1));
        QCOMPARE(fake->settings.get(QStringLiteral("Output Folder")), QStringLiteral("/home/user/Desktop/"));
        QVERIFY(!form->hasCustomPointer());
        QVERIFY(fake->skin.calls.isEmpty());
    }

    void applicationTitle_data()
    {
        QTest::addColumn<QString>("product");
        QTest::addColumn<QString>("title");
        QTest::newRow("one word keeps it") << "Orrowdale"
                                           << "Orrowdale";
        QTest::newRow("short name still loses its last word") << "Orrowdale Maps"
                                                              << "Orrowdale";
        QTest::newRow("40 characters lose the last word") << "Alpha Bravo Charlie Delta Echo Foxtrot G"
                                                          << "Alpha Bravo Charlie Delta Echo Foxtrot";
        QTest::newRow("cut word by word to 40 at most") << "Alpha Bravo Charlie Delta Echo Foxtrot Golf Hotel"
                                                        << "Alpha Bravo Charlie Delta Echo Foxtrot";
        QTest::newRow("ten words, four cuts")
            << "Orrowdale Harbour Lights Map Tiles Set Deluxe Edition For Linux"
            << "Orrowdale Harbour Lights Map Tiles Set";
    }
    void applicationTitle()
    {
        QFETCH(QString, product);
        QTEST(ApplicationTitle(product), "title");
    }

    void restores_data()
    {
        QTest::addColumn<QString>("zipCodes");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("zoom");
        QTest::addColumn<bool>("skinIsFolder");
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<QString>("zoomShown");
        QTest::newRow("two, skin") << "Londonderry UK;Haverhill MA;"
                                   << "/gone/"
                                   << "7" << false << QStringList{"Londonderry UK", "Haverhill MA"} << "7";
        QTest::newRow("empty pieces and folder, o.cjs a folder")
            << ";a;; 03087 ;b"
            << ""
            << "abc" << true << QStringList{"a", " 03087 ", "b"} << "1";
    }
    void restores()
    {
        QFETCH(QString, zipCodes);
        QFETCH(QString, folder);
        QFETCH(QString, zoom);
        QFETCH(bool, skinIsFolder);
        set("Zip Codes", zipCodes);
        set("Output Folder", folder);
        set("Zoom", zoom);
        set("Slider1", QStringLiteral("60"));
        touch(QStringLiteral("HAND-M.CUR"));
        const QString skin = programFolder->filePath(QStringLiteral("x/o.cjs"));
        skinIsFolder ? (void)QDir().mkpath(skin) : (void)touch(QStringLiteral("x/o.cjs"));
        load();
        QVERIFY(fake->window.boxes.empty());
        QTEST(listed(), "list");
        QCOMPARE(form->Text1->text(), folder); // an empty one stays empty
        QTEST(form->Text2->text(), "zoomShown");
        QCOMPARE(form->Frame3->title(), QStringLiteral("Output JPG image quality: 60%"));
        QVERIFY(fake->settings.storedValues(QStringLiteral("Slider1")).isEmpty());
        QVERIFY(form->hasCustomPointer());
        // Option bit 1 joins the bits already set.
        const QStringList calls{"load " + skin + " []", "options 65", "dialogs 1", "frames 1", "apply"};
        QCOMPARE(fake->skin.calls, skinIsFolder ? QStringList() : calls);
        QCOMPARE(form->Frame1->palette().color(QPalette::Window),
                 skinIsFolder ? QColor(Qt::white) : QApplication::palette().color(QPalette::Button));
    }

    void failuresAreReportedAndStartUpGoesOn_data()
    {
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("quality");
        QTest::newRow("skin unreadable") << 102 << "85";
        QTest::newRow("hand pointer") << 110 << "85";
        QTest::newRow("desktop") << 148 << "85";
        QTest::newRow("quality not a number") << 152 << "high";
        QTest::newRow("quality out of range") << 152 << "150";
    }
    void failuresAreReportedAndStartUpGoesOn()
    {
        QFETCH(int, line);
        QFETCH(QString, quality);
        set("Zip Codes", QStringLiteral("a;b;"));
        set("Output Folder", QStringLiteral("/maps/"));
        set("Slider1", quality);
        touch(QStringLiteral("x/o.cjs"));
        touch(QStringLiteral("HAND-M.CUR"));
        fake->skin.failLoad = line == 102;
        fake->shell.desktopFails = line == 148;
        if (line == 110)
            fake->window.onLoadCursor = [](const QString&) -> QCursor { throw PlatformError(QString()); };
        load();
        QCOMPARE(fake->window.boxes.size(), size_t(1));
        QVERIFY(
            fake->window.boxes.front().text.contains(QStringLiteral("Form_Load at line %1\r\r").arg(line)));
        // What follows the failing statement still happened.
        QCOMPARE(listed(), (QStringList{"a", "b"}));
        QCOMPARE(form->Frame3->title(), QStringLiteral("Output JPG image quality: 85%"));
        QCOMPARE(fake->skin.calls.size(), line == 102 ? 1 : 5); // nothing after a failed load
        QCOMPARE(form->hasCustomPointer(), line != 110);
        // Without a desktop the box stays empty and the stored folder is untouched.
        QCOMPARE(form->Text1->text(), line == 148 ? QString() : QStringLiteral("/maps/"));
        QCOMPARE(fake->settings.get(QStringLiteral("Output Folder")), QStringLiteral("/maps/"));
    }

    void closeSavesTheListAndEnds_data()
    {
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QStringList>("restored");
        QStringList many;
        for (int i = 0; i < 40'000; ++i) // past what a 16-bit count would hold
            many << QString::number(i);
        QTest::newRow("empty list") << QStringList{} << "" << QStringList{};
        QTest::newRow("empty and ; inside") << QStringList{"", "a;b"} << ";a;b;" << QStringList{"a", "b"};
        QTest::newRow("40000") << many << many.join(u';') + u';' << many;
    }
    void closeSavesTheListAndEnds()
    {
        QFETCH(QStringList, list);
        load();
        form->locations().appendMany(list);
        QVERIFY(closeEndsTheProgram());
        QTEST(fake->settings.get(QStringLiteral("Zip Codes")), "saved");
        load(); // the next start
        QTEST(listed(), "restored");
    }

    // A saved value that could not be read at start-up is replaced neither by the start-up nor
    // by the close; the window's locations go beside the list, in a file the message names.
    void unreadableSavedValueIsNotReplaced_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QStringList>("added"); // to the list before the close
        QTest::newRow("list, nothing added") << "Zip Codes" << QStringList{};
        QTest::newRow("list, locations added") << "Zip Codes" << QStringList{"Haverhill MA", "a;b", ""};
        QTest::newRow("output folder") << "Output Folder" << QStringList{};
    }
    void unreadableSavedValueIsNotReplaced()
    {
        if (RanAsNobody())
            return;
        QFETCH(QString, key);
        QFETCH(QStringList, added);
        QTemporaryDir config;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
        QtSettingsStore store;
        const QString app = FakeSettingsStore::app(), section = FakeSettingsStore::section();
        const QString path = QtSettingsStore::location(app, section, key);
        store.store(app, section, key, QStringLiteral("7;"));
        QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
        Platform platform{fake->window,  store,      fake->network, fake->images,
                          fake->dialogs, fake->skin, fake->shell};
        form = std::make_unique<Form1>(platform);
        form->Form_Load();
        QVERIFY(fake->window.boxes.at(0).text.contains(key == u"Zip Codes" ? "at line 134" : "at line 148"));
        form->locations().appendMany(added);
        QVERIFY(closeEndsTheProgram());
        form.reset(); // before the store it uses
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner));
        QCOMPARE(store.read(app, section, key, QString()), QStringLiteral("7;"));
        const QDir folder = QFileInfo(path).dir();
        const QStringList aside = folder.entryList({key + QStringLiteral(" *")}, QDir::Files);
        QCOMPARE(aside.size(), qsizetype(!added.isEmpty()));
        QCOMPARE(fake->window.boxes.size(), size_t(1 + aside.size()));
        for (const QString& name : aside) {
            QFile kept(folder.filePath(name));
            QVERIFY(kept.open(QIODevice::ReadOnly) && kept.readAll() == "Haverhill MA\r\na;b\r\n\r\n");
            QVERIFY(fake->window.boxes.back().text.contains(QDir::toNativeSeparators(kept.fileName())));
        }
    }

    void failedSaveHoldsTheCloseOnce_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("the store's own failure") << 0;
        QTest::newRow("a standard exception") << 1;
        QTest::newRow("anything else") << 2;
    }
    void failedSaveHoldsTheCloseOnce()
    {
        QFETCH(int, kind);
        struct FailingStore : FakeSettingsStore
        {
            int kind = 0;
            void store(const QString& app, const QString& section, const QString& key,
                       const QString& value) override
            {
                if (key != QLatin1String("Zip Codes"))
                    return FakeSettingsStore::store(app, section, key, value);
                if (kind == 0)
                    throw PlatformError(QStringLiteral("The settings file is read-only"));
                if (kind == 1)
                    throw std::length_error("list too long");
                throw 42;
            }
        } settings;
        settings.kind = kind;
        Platform platform{fake->window,  settings,   fake->network, fake->images,
                          fake->dialogs, fake->skin, fake->shell};
        form = std::make_unique<Form1>(platform);
        form->Form_Load();
        form->locations().append(QStringLiteral("Haverhill MA"));
        QVERIFY(!closeEndsTheProgram());
        QCOMPARE(fake->window.boxes.size(), size_t(1));
        QVERIFY(
            fake->window.boxes.front().text.contains(QStringLiteral("The list of locations is not saved")));
        QVERIFY(closeEndsTheProgram()); // the user chose to quit anyway
        QCOMPARE(fake->window.boxes.size(), size_t(1));
        form.reset(); // before the store it uses
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
