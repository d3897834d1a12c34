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

private slots:
    void existsAndFolder()
    {
        const QString file = touch(QStringLiteral("a.txt"));
        QVERIFY(FileExists(file) && FileExists(dir.path())); // a folder has a date too
        QVERIFY(!FileExists(QString()) && !FileExists(dir.filePath(QStringLiteral("*.txt"))));
        QVERIFY(IsFolder(dir.path() + PathSeparator()) && IsFolder(QStringLiteral("/")));
        QVERIFY(!IsFolder(file) && !IsFolder(dir.filePath(QStringLiteral("missing"))) &&
                !IsFolder(QString()));
    }

    // Each removal yields first, then takes the one file by that very name or nothing at all.
    void removeFile()
    {
        for (const char* name : {"a.txt", "b.txt", "*.txt", "target.txt", "sub/inside.txt"}) {
            QDir().mkpath(dir.filePath(QStringLiteral("sub")));
            touch(QString::fromLatin1(name));
        }
        const QString readOnly = touch(QStringLiteral("readonly.txt"));
        QVERIFY(QFile::setPermissions(readOnly, QFileDevice::ReadOwner | QFileDevice::ReadUser));
        QVERIFY(
            QFile::link(dir.filePath(QStringLiteral("target.txt")), dir.filePath(QStringLiteral("link"))));
        FakeWindowSystem window;
        bool presentDuringYield = false;
        window.onYield = [&] {
            if (window.yields == 1)
                presentDuringYield = QFile::exists(dir.filePath(QStringLiteral("a.txt")));
        };
        const QStringList removals{"a.txt", "*.txt",        "?.txt",   "*",   "sub",
                                   "sub/",  "readonly.txt", "missing", "link"};
        for (const QString& name : removals)
            RemoveFile(window, dir.filePath(name));
        RemoveFile(window, QString());
        QCOMPARE(window.yields, removals.size() + 1);
        QVERIFY(presentDuringYield);
        QCOMPARE(
            QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System, QDir::Name),
            (QStringList{"b.txt", "readonly.txt", "sub", "target.txt"}));
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("sub/inside.txt"))));
    }

    void fileNamePart()
    {
        QCOMPARE(FileNamePart(QStringLiteral("Londonderry UK")), QStringLiteral("Londonderry UK"));
        QCOMPARE(FileNamePart(QStringLiteral("a/b/c")), QStringLiteral("c"));
        QCOMPARE(FileNamePart(QStringLiteral("a/b/")), QString());
        QCOMPARE(FileNamePart(QStringLiteral("a\\b")), QStringLiteral("a\\b")); // not a separator here
    }
};

QTEST_MAIN(TestFileHelpers)
#include "test_filehelpers.moc"
