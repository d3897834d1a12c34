#include "app/Form1.h"
#include "support/TestPlatform.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

// The dialog's folder goes into the box with one final separator; every change is stored.
class TestOutputFolder : public QObject
{
    Q_OBJECT

    struct Window
    {
        TestPlatform fake;
        Form1 form{fake.platform};
        QStringList stored() const { return fake.settings.storedValues(QStringLiteral("Output Folder")); }
    };

private slots:
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
        Window w;
        w.form.Text1->setText(before);
        w.fake.settings.stored.clear();
        if (!chosen.isEmpty())
            w.fake.dialogs.folderAnswers << chosen;
        w.form.PushButton2->click();
        QCOMPARE(w.fake.dialogs.lastTitle, QStringLiteral("Please select folder:"));
        QCOMPARE(w.form.Text1->text(), after);
        QCOMPARE(w.stored(), after == before ? QStringList() : QStringList{after});
        QTest::keyClick(w.form.Text1, Qt::Key_Backspace); // every keystroke is stored
        QCOMPARE(w.stored().last(), w.form.Text1->text());
    }
};

QTEST_MAIN(TestOutputFolder)
#include "test_outputfolder.moc"
