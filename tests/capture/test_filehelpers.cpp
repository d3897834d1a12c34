#include "capture/FileHelpers.h"
#include "support/FakeWindowSystem.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

// Testing, removing and naming files: quiet answers, exactly one file, never a pattern.
class TestFileHelpers : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString touch(const QString& name)
    {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot create test file");
        return file.fileName();
    }

    QStringList present() const
    {
        return QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
    }

private slots:
    void init()
    {
        QDir(dir.path()).removeRecursively();
        QDir().mkpath(dir.path());
    }

    void existsAndFolder()
    {
        const QString file = touch(QStringLiteral("a.txt"));
        touch(QStringLiteral("b.txt"));
        QVERIFY(FileExists(file));
        QVERIFY(FileExists(dir.path())); // a folder has a date too
        QVERIFY(!FileExists(QString()));
        QVERIFY(!FileExists(dir.filePath(QStringLiteral("missing.txt"))));
        QVERIFY(!FileExists(dir.filePath(QStringLiteral("*.txt")))); // never a pattern

        QVERIFY(IsFolder(dir.path()));
        QVERIFY(IsFolder(dir.path() + PathSeparator()));
        QVERIFY(IsFolder(QStringLiteral("/")));
        QVERIFY(!IsFolder(file));
        QVERIFY(!IsFolder(dir.filePath(QStringLiteral("missing"))));
        QVERIFY(!IsFolder(QString()));
    }

    void removeYieldsThenRemovesOnlyThatFile()
    {
        const QString a = touch(QStringLiteral("a.txt"));
        touch(QStringLiteral("b.txt"));
        FakeWindowSystem window;
        bool presentDuringYield = false;
        window.onYield = [&] { presentDuringYield = QFile::exists(a); };
        RemoveFile(window, a);
        QCOMPARE(window.yields, 1);
        QVERIFY(presentDuringYield);
        QCOMPARE(present(), QStringList{QStringLiteral("b.txt")});
    }

    void removeNeverTakesAPattern()
    {
        touch(QStringLiteral("a.txt"));
        touch(QStringLiteral("b.txt"));
        FakeWindowSystem window;
        RemoveFile(window, dir.filePath(QStringLiteral("*.txt")));
        RemoveFile(window, dir.filePath(QStringLiteral("?.txt")));
        RemoveFile(window, dir.filePath(QStringLiteral("*")));
        QCOMPARE(present(), (QStringList{QStringLiteral("a.txt"), QStringLiteral("b.txt")}));
        // A file that really bears the name is the one removed.
        touch(QStringLiteral("*.txt"));
        RemoveFile(window, dir.filePath(QStringLiteral("*.txt")));
        QCOMPARE(present(), (QStringList{QStringLiteral("a.txt"), QStringLiteral("b.txt")}));
        QCOMPARE(window.yields, 4);
    }

    void removeLeavesWhatIsNotOneWritableFile()
    {
        FakeWindowSystem window;
        const QString sub = dir.filePath(QStringLiteral("sub"));
        QVERIFY(QDir().mkpath(sub));
        touch(QStringLiteral("sub/inside.txt"));
        const QString readOnly = touch(QStringLiteral("readonly.txt"));
        QVERIFY(QFile::setPermissions(readOnly, QFileDevice::ReadOwner | QFileDevice::ReadUser));
        const QString target = touch(QStringLiteral("target.txt"));
        QVERIFY(QFile::link(target, dir.filePath(QStringLiteral("link"))));

        RemoveFile(window, sub);
        RemoveFile(window, sub + PathSeparator());
        RemoveFile(window, readOnly);
        RemoveFile(window, dir.filePath(QStringLiteral("missing.txt")));
        RemoveFile(window, QString());
        QCOMPARE(present(), (QStringList{QStringLiteral("link"), QStringLiteral("readonly.txt"),
                                         QStringLiteral("sub"), QStringLiteral("target.txt")}));
        QVERIFY(QFile::exists(sub + QStringLiteral("/inside.txt")));
        RemoveFile(window, dir.filePath(QStringLiteral("link"))); // the link, not what it points to
        QCOMPARE(present(), (QStringList{QStringLiteral("readonly.txt"), QStringLiteral("sub"),
                                         QStringLiteral("target.txt")}));
        QCOMPARE(window.yields, 6);
    }

    void fileNamePart_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::newRow("no separator") << QStringLiteral("Londonderry UK") << QStringLiteral("Londonderry UK");
        QTest::newRow("last one counts") << QStringLiteral("a/b/c") << QStringLiteral("c");
        QTest::newRow("ends in one") << QStringLiteral("a/b/") << QString();
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("backslash is a character here") << QStringLiteral("a\\b") << QStringLiteral("a\\b");
        QTest::newRow("blanks kept") << QStringLiteral("/maps/ Haverhill MA _5.jpg")
                                     << QStringLiteral(" Haverhill MA _5.jpg");
    }
    void fileNamePart()
    {
        QFETCH(QString, path);
        QFETCH(QString, name);
        QCOMPARE(PathSeparator(), QChar(u'/'));
        QCOMPARE(FileNamePart(path), name);
    }
};

QTEST_MAIN(TestFileHelpers)
#include "test_filehelpers.moc"
