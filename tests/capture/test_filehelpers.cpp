#include "capture/FileHelpers.h"
#include "platform/Files.h"
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
        // Cut at the NUL, these would name the file and the folder above.
        const QChar nul(0);
        QVERIFY(!FileExists(file + nul) && !FileExists(file + nul + QStringLiteral("x")));
        QVERIFY(!IsFolder(dir.path() + nul) && !IsFolder(dir.path() + nul + PathSeparator()));
    }

    // The characters that would reach the system changed or cut short, on either platform.
    void refusedCharacters_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<NameRules>("rules");
        QTest::addColumn<int>("at"); // -1: the path is fine
        const QString nul(QChar(0));
        const QString lone(QChar(0xd800));
        const QString pair = QString::fromUcs4(U"\U0001F5FA");
        const auto row = [](const char* name, const QString& path, NameRules rules, int at) {
            QTest::newRow(name) << path << rules << at;
        };
        row("posix: NUL", "/out/victim" + nul + "_1.gif", NameRules::Posix, 11);
        row("posix: all else", "/out/a:b<c>d\"e|f?g*h\tj\\k_1.gif", NameRules::Posix, -1);
        row("posix: lone surrogate", "/out/a" + lone + "b", NameRules::Posix, 6);
        row("posix: lone low surrogate", "/out/" + pair.mid(1), NameRules::Posix, 5);
        row("posix: a pair", "/out/" + pair + "_1.gif", NameRules::Posix, -1);
        row("windows: NUL", "C:\\out\\a" + nul, NameRules::Windows, 8);
        row("windows: drive and folders", "C:\\out/sub\\a b.c_1.gif", NameRules::Windows, -1);
        row("windows: long-path prefix", "\\\\?\\C:\\out\\a_1.gif", NameRules::Windows, -1);
        row("windows: network share", "\\\\server\\share\\a_1.gif", NameRules::Windows, -1);
        row("windows: a second colon", "C:\\out\\a:b_1.gif", NameRules::Windows, 8);
        row("windows: a colon without a drive", "out:\\a", NameRules::Windows, 3);
        row("windows: a quote", "C:\\out\\say \"hi\"_1.gif", NameRules::Windows, 11);
        for (const char c : {'<', '>', '|', '?', '*', '\t', '\x1f'})
            QTest::addRow("windows: code %d", c)
                << QStringLiteral("C:\\a%1b").arg(QLatin1Char(c)) << NameRules::Windows << 4;
        row("windows: lone surrogate", "C:\\a" + lone, NameRules::Windows, -1);
    }
    void refusedCharacters()
    {
        QFETCH(QString, path);
        QFETCH(NameRules, rules);
        QTEST(int(RefusedCharacterAt(path, rules)), "at");
    }

    // Each removal yields first, then takes the one file by that very name or nothing at all.
    void removeFile()
    {
        for (const char* name : {"a.txt", "b.txt", "*.txt", "target.txt", "sub/inside.txt", "victim"}) {
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
        const QStringList removals{
            "a.txt", "*.txt",        "?.txt",   "*",    "sub",
            "sub/",  "readonly.txt", "missing", "link", "victim" + QString(QChar(0)) + "x"};
        for (const QString& name : removals)
            RemoveFile(window, dir.filePath(name));
        RemoveFile(window, QString());
        QCOMPARE(window.yields, removals.size() + 1);
        QVERIFY(presentDuringYield);
        QCOMPARE(
            QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System, QDir::Name),
            (QStringList{"b.txt", "readonly.txt", "sub", "target.txt", "victim"}));
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
