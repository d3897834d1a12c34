#include "app/Form1.h"
#include "support/TestPlatform.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

// The dialog's folder goes into the box with one final separator; every change is stored.
class TestOutputFolder : public QObject
{
    Q_OBJECT

private slots:
    void chooseFolder_data()
    {
        QTest::addColumn<QStringList>("beforeChosenAfter"); // chosen empty: cancelled
        QTest::newRow("folder") << QStringList{"", "/home/u/Maps", "/home/u/Maps/"};
        QTest::newRow("root") << QStringList{"", "/", "/"};
        QTest::newRow("cancel") << QStringList{"/old/", "", "/old/"};
        QTest::newRow("the folder shown") << QStringList{"/m/", "/m", "/m/"};
    }
    void chooseFolder()
    {
        QFETCH(QStringList, beforeChosenAfter);
        TestPlatform fake;
        Form1 form(fake.platform);
        form.Text1->setText(beforeChosenAfter[0]);
        fake.settings.stored.clear();
        if (!beforeChosenAfter[1].isEmpty())
            fake.dialogs.folderAnswers << beforeChosenAfter[1];
        form.PushButton2->click();
        QCOMPARE(fake.dialogs.lastTitle, QStringLiteral("Please select folder:"));
        QCOMPARE(form.Text1->text(), beforeChosenAfter[2]);
        const auto stored = [&] { return fake.settings.storedValues(QStringLiteral("Output Folder")); };
        QCOMPARE(stored(),
                 beforeChosenAfter[2] == beforeChosenAfter[0] ? QStringList() : beforeChosenAfter.mid(2));
        QTest::keyClick(form.Text1, Qt::Key_Backspace); // every keystroke is stored
        QCOMPARE(stored().last(), form.Text1->text());
    }
};

QTEST_MAIN(TestOutputFolder)
#include "test_outputfolder.moc"
