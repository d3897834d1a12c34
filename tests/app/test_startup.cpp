#include "app/Form1.h"
#include "app/Startup.h"
#include "locations/LocationList.h"
#include "support/TestPlatform.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QScrollBar>
#include <QSlider>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include <memory>

// Reaches the window's close handling as the platform does.
class Form1Access
{
public:
    // True when the window let the close go ahead without ending the program.
    static bool close(Form1& form)
    {
        QCloseEvent event;
        form.closeEvent(&event);
        return event.isAccepted();
    }
};

// Start-up restores what the last run left; closing saves the list and ends the program.
class TestStartup : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestPlatform> fake;
    std::unique_ptr<Form1> form;
    QTemporaryDir programFolder;

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
    // Closes the window; true when the program ended.
    bool closeWindow()
    {
        try {
            Form1Access::close(*form);
        } catch (const ProgramEnded&) {
            return true;
        }
        return false;
    }
    void writeFile(const QString& path, const QByteArray& bytes = "x")
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    QColor buttonFace() const { return QApplication::palette().color(QPalette::Button); }

private slots:
    void init()
    {
        fake = std::make_unique<TestPlatform>();
        QVERIFY(programFolder.isValid());
        fake->shell.program = programFolder.path();
        fake->shell.desktop = QStringLiteral("/home/user/Desktop");
    }
    void cleanup()
    {
        form.reset();
        fake.reset();
        QDir(programFolder.path()).removeRecursively();
        QDir().mkpath(programFolder.path());
    }

    void firstStartTakesEveryDefault()
    {
        load();
        QVERIFY(fake->window.boxes.empty());
        QCOMPARE(form->windowTitle(), QStringLiteral("Orrowdale"));
        QCOMPARE(fake->window.applicationTitle(), QStringLiteral("Orrowdale"));
        const QList<QSize> sizes = form->windowIcon().availableSizes();
        for (int size : {32, 48, 128, 256})
            QVERIFY2(sizes.contains(QSize(size, size)), qPrintable(QString::number(size)));
        QVERIFY(!form->hasCustomPointer());
        QCOMPARE(form->locations().headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QStringLiteral("Google Map Location(s)"));
        QCOMPARE(form->ListView1->columnWidth(0), 467);
        QCOMPARE(form->locations().count(), 0);
        QCOMPARE(form->Text1->text(), QStringLiteral("/home/user/Desktop/"));
        QCOMPARE(form->Text2->text(), QStringLiteral("1"));
        QCOMPARE(form->Slider1->value(), 85);
        QCOMPARE(form->Frame3->title(), QStringLiteral("Output JPG image quality: 85%"));
        // Only the folder is stored at once; the zoom text did not change and the slider was not clicked.
        QCOMPARE(fake->settings.stored.size(), size_t(1));
        QCOMPARE(fake->settings.get(QStringLiteral("Output Folder")), QStringLiteral("/home/user/Desktop/"));
        // Without skin or pointer file the designed look stays.
        QVERIFY(fake->skin.calls.isEmpty());
        QCOMPARE(form->palette().color(QPalette::Window), QColor(Qt::white));
    }

    void restoresTheSavedValues()
    {
        fake->settings.set(QStringLiteral("Output Folder"), QStringLiteral("/gone/Maps/"));
        fake->settings.set(QStringLiteral("Zoom"), QStringLiteral("7"));
        fake->settings.set(QStringLiteral("Slider1"), QStringLiteral("60"));
        writeFile(programFolder.filePath(QStringLiteral("HAND-M.CUR")));
        load();
        QVERIFY(fake->window.boxes.empty());
        QVERIFY(form->hasCustomPointer());
        QCOMPARE(form->Text1->text(), QStringLiteral("/gone/Maps/")); // shown unchecked
        QCOMPARE(form->Text2->text(), QStringLiteral("7"));
        QCOMPARE(form->HScroll1->value(), 7);
        QCOMPARE(form->Slider1->value(), 60);
        QCOMPARE(form->Frame3->title(), QStringLiteral("Output JPG image quality: 60%"));
        QCOMPARE(fake->settings.storedValues(QStringLiteral("Slider1")), QStringList());
    }

    void emptyFolderStaysEmptyAndBadZoomIsCorrected()
    {
        fake->settings.set(QStringLiteral("Output Folder"), QString());
        fake->settings.set(QStringLiteral("Zoom"), QStringLiteral("abc"));
        load();
        QVERIFY(fake->window.boxes.empty());
        QCOMPARE(form->Text1->text(), QString());
        QCOMPARE(fake->settings.get(QStringLiteral("Output Folder")), QString());
        QCOMPARE(form->Text2->text(), QStringLiteral("1"));
        QCOMPARE(fake->settings.get(QStringLiteral("Zoom")), QStringLiteral("1"));
    }

    void restoresTheList_data()
    {
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QStringList>("restored");
        QTest::newRow("two") << "Londonderry UK;Haverhill MA;"
                             << QStringList{"Londonderry UK", "Haverhill MA"};
        QTest::newRow("empty pieces skipped") << ";a;;b;;" << QStringList{"a", "b"};
        QTest::newRow("no final separator") << "a;b" << QStringList{"a", "b"};
        QTest::newRow("blanks kept") << " 03087 ;  ;" << QStringList{" 03087 ", "  "};
        QTest::newRow("only separators") << ";;;" << QStringList{};
        QTest::newRow("nothing") << "" << QStringList{};
    }
    void restoresTheList()
    {
        QFETCH(QString, saved);
        QFETCH(QStringList, restored);
        fake->settings.set(QStringLiteral("Zip Codes"), saved);
        load();
        QCOMPARE(listed(), restored);
    }

    void failuresAreReportedAndStartUpGoesOn_data()
    {
        QTest::addColumn<int>("line");
        QTest::newRow("skin") << 102;
        QTest::newRow("hand pointer") << 110;
        QTest::newRow("desktop") << 148;
        QTest::newRow("quality not a number") << 152;
        QTest::newRow("quality out of range") << 152;
    }
    void failuresAreReportedAndStartUpGoesOn()
    {
        QFETCH(int, line);
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        fake->settings.set(QStringLiteral("Zip Codes"), QStringLiteral("a;b;"));
        fake->settings.set(QStringLiteral("Output Folder"), QStringLiteral("/maps/"));
        if (line == 102) {
            writeFile(programFolder.filePath(QStringLiteral("x/o.cjs")));
            fake->skin.failLoad = true;
        } else if (line == 110) {
            writeFile(programFolder.filePath(QStringLiteral("HAND-M.CUR")));
            fake->window.onLoadCursor = [](const QString&) -> QCursor {
                throw PlatformError(QStringLiteral("not a pointer image"));
            };
        } else if (line == 148) {
            fake->shell.desktopFails = true;
        } else {
            fake->settings.set(QStringLiteral("Slider1"), tag.contains(QStringLiteral("range"))
                                                              ? QStringLiteral("150")
                                                              : QStringLiteral("high"));
        }
        load();

        QCOMPARE(fake->window.boxes.size(), size_t(1));
        const auto& box = fake->window.boxes.front();
        QCOMPARE(box.title, QStringLiteral("Application Error"));
        QVERIFY2(box.text.contains(
                     QStringLiteral("\r\nin Kestrelby2016/11/03.Form1.Form_Load at line %1\r\r").arg(line)),
                 qPrintable(box.text));
        // Everything after the failing statement still happened.
        QCOMPARE(form->windowTitle(), QStringLiteral("Orrowdale"));
        QCOMPARE(listed(), (QStringList{"a", "b"}));
        QCOMPARE(form->Frame3->title(), QStringLiteral("Output JPG image quality: 85%"));
        if (line == 102) {
            // The colours changed before the skin failed; nothing after the load was done.
            QCOMPARE(fake->skin.calls.size(), 1);
            QCOMPARE(form->palette().color(QPalette::Window), buttonFace());
            QCOMPARE(form->Frame2->palette().color(QPalette::Window), buttonFace());
        }
        if (line == 110)
            QVERIFY(!form->hasCustomPointer());
        if (line == 148) {
            QCOMPARE(form->Text1->text(), QString());
            QCOMPARE(fake->settings.storedValues(QStringLiteral("Output Folder")), QStringList());
        } else {
            QCOMPARE(form->Text1->text(), QStringLiteral("/maps/"));
        }
        if (line == 152)
            QCOMPARE(form->Slider1->value(), 85);
    }

    void skinFile_data()
    {
        QTest::addColumn<QString>("present"); // "file", "folder" or ""
        QTest::addColumn<bool>("applied");
        QTest::newRow("present") << "file" << true;
        QTest::newRow("absent") << "" << false;
        QTest::newRow("a folder of that name") << "folder" << false;
    }
    void skinFile()
    {
        QFETCH(QString, present);
        QFETCH(bool, applied);
        const QString skin = programFolder.filePath(QStringLiteral("x/o.cjs"));
        if (present == QStringLiteral("file"))
            writeFile(skin);
        else if (present == QStringLiteral("folder"))
            QVERIFY(QDir().mkpath(skin));
        load();
        QVERIFY(fake->window.boxes.empty());
        if (!applied) {
            QVERIFY(fake->skin.calls.isEmpty());
            QCOMPARE(form->Frame1->palette().color(QPalette::Window), QColor(Qt::white));
            return;
        }
        // Bit 1 joins the bits the framework already had.
        QCOMPARE(fake->skin.calls, (QStringList{QStringLiteral("load %1 []").arg(skin),
                                                QStringLiteral("options 65"), QStringLiteral("dialogs 1"),
                                                QStringLiteral("frames 1"), QStringLiteral("apply")}));
        for (QWidget* w : {static_cast<QWidget*>(form.get()), static_cast<QWidget*>(form->Frame1),
                           static_cast<QWidget*>(form->Frame2), static_cast<QWidget*>(form->Frame3)})
            QCOMPARE(w->palette().color(QPalette::Window), buttonFace());
        // Controls that are not frames keep theirs.
        QCOMPARE(form->Text1->palette().color(QPalette::Base), QApplication::palette().color(QPalette::Base));
    }

    void applicationTitle_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("title");
        QTest::newRow("one word keeps the whole name") << "Orrowdale"
                                                       << "Orrowdale";
        QTest::newRow("short name loses its last word") << "Orrowdale Maps"
                                                        << "Orrowdale";
        QTest::newRow("ten words, four cuts")
            << "Alpha Bravo Charlie Delta Echo Foxtrot abcde fghij klmno pqrstu"
            << "Alpha Bravo Charlie Delta Echo Foxtrot";
        QTest::newRow("long first word stays whole") << "Orrowdalemapsandlocationstojpgfilesforeveryone tool"
                                                     << "Orrowdalemapsandlocationstojpgfilesforeveryone";
    }
    void applicationTitle()
    {
        QFETCH(QString, name);
        QFETCH(QString, title);
        QCOMPARE(ApplicationTitle(name), title);
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
        QTest::newRow("empty and ; inside")
            << QStringList{"", "a;b", " c "} << ";a;b; c ;" << QStringList{"a", "b", " c "};
    }
    void closeSavesTheListAndEnds()
    {
        QFETCH(QStringList, list);
        QFETCH(QString, saved);
        QFETCH(QStringList, restored);
        load();
        for (const QString& location : list)
            form->locations().append(location);
        QVERIFY(closeWindow());
        QVERIFY(fake->window.ended);
        QVERIFY(fake->settings.has(QStringLiteral("Zip Codes")));
        QCOMPARE(fake->settings.get(QStringLiteral("Zip Codes")), saved);

        // The next start.
        fake->window.ended = false;
        load();
        QCOMPARE(listed(), restored);
    }

    void moreThan32766LocationsComeBack()
    {
        load();
        QStringList many;
        for (int i = 0; i < 40'000; ++i)
            many << QStringLiteral("L%1").arg(i);
        form->locations().appendMany(many);
        QVERIFY(closeWindow());
        load();
        QCOMPARE(form->locations().count(), 40'000);
        QCOMPARE(form->locations().locationAt(40'000), QStringLiteral("L39999"));
    }

    void failedSaveHoldsTheCloseOnce()
    {
        load();
        form->locations().append(QStringLiteral("Haverhill MA"));
        fake->settings.failStores = true;
        QVERIFY(!closeWindow());
        QCOMPARE(fake->window.boxes.size(), size_t(1));
        QVERIFY(fake->window.boxes.front().text.contains(QStringLiteral("Close the window again")));
        QCOMPARE(form->locations().count(), 1);
        // Still failing: the user chose to quit anyway.
        QVERIFY(closeWindow());
        QCOMPARE(fake->window.boxes.size(), size_t(1));
    }

    void closeDuringARunEndsAtOnce()
    {
        QTemporaryDir output;
        load();
        form->locations().append(QStringLiteral("Londonderry UK"));
        form->locations().append(QStringLiteral("Haverhill MA"));
        // A stand-in for the capture run: leaves a work file, hooks its removal, and yields
        // before each fetch as the run does.
        const QString work = output.filePath(QStringLiteral("Londonderry UK_1.gif"));
        writeFile(work);
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
        QVERIFY(fake->window.ended);
        QVERIFY(fake->network.requests.isEmpty());
        QVERIFY(fake->window.boxes.empty());
        QVERIFY(!QFile::exists(work));
        QCOMPARE(fake->settings.get(QStringLiteral("Zip Codes")),
                 QStringLiteral("Londonderry UK;Haverhill MA;"));
    }

    void failingEndHookStillEnds()
    {
        load();
        form->setEndHook([] { throw PlatformError(QStringLiteral("work file in use")); });
        QVERIFY(closeWindow());
        QVERIFY(fake->window.ended);
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
