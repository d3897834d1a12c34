#include "app/Form1.h"
#include "support/TestPlatform.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <memory>

// The folder dialog's choice goes into the box with one final separator; every change of
// the box is stored.
class TestOutputFolder : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestPlatform> fake;
    std::unique_ptr<Form1> form;

    QStringList storedFolders() const { return fake->settings.storedValues(QStringLiteral("Output Folder")); }

private slots:
    void init()
    {
        fake = std::make_unique<TestPlatform>();
        form = std::make_unique<Form1>(fake->platform);
    }
    void cleanup()
    {
        form.reset();
        fake.reset();
    }

    void chooseFolder_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("chosen"); // empty: cancelled
        QTest::addColumn<QString>("after");
        QTest::newRow("folder") << ""
                                << "/home/u/Maps"
                                << "/home/u/Maps/";
        QTest::newRow("root") << ""
                              << "/"
                              << "/";
        QTest::newRow("already ends in a separator") << ""
                                                     << "/srv/maps/"
                                                     << "/srv/maps/";
        QTest::newRow("cancel") << "/old/"
                                << ""
                                << "/old/";
        QTest::newRow("the folder shown") << "/m/"
                                          << "/m"
                                          << "/m/";
    }
    void chooseFolder()
    {
        QFETCH(QString, before);
        QFETCH(QString, chosen);
        QFETCH(QString, after);
        form->Text1->setText(before);
        fake->settings.stored.clear();
        if (!chosen.isEmpty())
            fake->dialogs.folderAnswers << chosen;
        form->PushButton2->click();
        QCOMPARE(fake->dialogs.lastTitle, QStringLiteral("Please select folder:"));
        QCOMPARE(form->Text1->text(), after);
        QCOMPARE(storedFolders(), after == before ? QStringList() : QStringList{after});
        QVERIFY(fake->window.boxes.empty());
    }

    void failingDialogIsReported()
    {
        form->Text1->setText(QStringLiteral("/old/"));
        fake->dialogs.onOpen = [] { throw PlatformError(QStringLiteral("no folder dialog")); };
        form->PushButton2->click();
        QCOMPARE(fake->window.boxes.size(), size_t(1));
        QVERIFY(fake->window.boxes.front().text.startsWith(QStringLiteral(
            "no folder dialog\r\nin Kestrelby2016/11/03.Form1.PushButton2_Click at line 100\r\r")));
        QCOMPARE(form->Text1->text(), QStringLiteral("/old/"));
    }

    void everyKeystrokeIsStored()
    {
        QTest::keyClicks(form->Text1, QStringLiteral("/maps/"));
        QCOMPARE(storedFolders(), (QStringList{"/", "/m", "/ma", "/map", "/maps", "/maps/"}));
        form->Text1->selectAll();
        QTest::keyClick(form->Text1, Qt::Key_Delete);
        QCOMPARE(storedFolders().last(), QString());
        QVERIFY(fake->settings.has(QStringLiteral("Output Folder")));
    }
};

QTEST_MAIN(TestOutputFolder)
#include "test_outputfolder.moc"
