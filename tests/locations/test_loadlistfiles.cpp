#include "app/Form1.h"
#include "locations/LocationList.h"
#include "support/TestPlatform.h"

#include <QDir>
#include <QPushButton>
#include <QtTest>

#include <memory>

#include <sys/stat.h>

// "Load List Of Locations From File": the dialog, the files in its order, and what each kind
// of bad path reports.
class TestLoadListFiles : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestPlatform> fake;
    std::unique_ptr<Form1> form;
    QTemporaryDir dir;

    QString write(const QString& name, const QByteArray& bytes)
    {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write test file");
        return file.fileName();
    }
    QStringList listed() const
    {
        QStringList all;
        for (int i = 1; i <= form->locations().count(); ++i)
            all << form->locations().locationAt(i);
        return all;
    }
    // Each box as "text style title", an Application Error as "line N".
    QStringList shownBoxes() const
    {
        QStringList shown;
        for (const auto& box : fake->window.boxes)
            shown << (box.title == QStringLiteral("Application Error") && box.style == 48
                          ? QStringLiteral("line ") +
                                box.text.section(QStringLiteral("Click at line "), 1).left(3)
                          : QStringLiteral("%1 %2 %3").arg(box.text).arg(box.style).arg(box.title));
        return shown;
    }

private slots:
    void init()
    {
        fake = std::make_unique<TestPlatform>();
        form = std::make_unique<Form1>(fake->platform);
        fake->window.setApplicationTitle(QStringLiteral("Orrowdale"));
        form->locations().append(QStringLiteral("already there"));
    }

    void filesAppendedInDialogOrder()
    {
        form->PushButton3->click(); // cancelled
        QCOMPARE(fake->dialogs.lastTitle,
                 QStringLiteral("Load List(s) - Hold Ctrl to select multiple list files"));
        QCOMPARE(fake->dialogs.lastFilters,
                 (QStringList{QStringLiteral("Text Files (*.txt)"), QStringLiteral("All Files (*.*)")}));
        QVERIFY(fake->window.pointers.empty());

        const QString b = write(QStringLiteral("b.txt"), "B1\r\nB2\r\n");
        const QString a = write(QStringLiteral("a.list"), "A1\nA2");
        fake->dialogs.fileAnswers << QStringList{b, a, write(QStringLiteral("empty.txt"), ""), b};
        form->PushButton3->click();
        QCOMPARE(listed(), (QStringList{"already there", "B1", "B2", "A1", "A2", "B1", "B2"}));
        QCOMPARE(fake->window.pointers,
                 (std::vector<PointerShape>{PointerShape::Busy, PointerShape::Ordinary}));
        QVERIFY(fake->window.boxes.empty());
    }

    void badPaths_data()
    {
        QTest::addColumn<QStringList>("chosen");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QStringList>("added");
        const QString notFound = QStringLiteral("File not found 0 Orrowdale");
        const QStringList a{QStringLiteral("A1"), QStringLiteral("A2")};
        QTest::newRow("missing, then a file") << QStringList{"missing", "a"} << QStringList{notFound} << a;
        QTest::newRow("folder") << QStringList{"folder"} << QStringList{"line 120"} << QStringList{};
        QTest::newRow("pipe") << QStringList{"pipe"} << QStringList{"line 120"} << QStringList{};
        QTest::newRow("folders around a file")
            << QStringList{"folder", "a", "folder"} << QStringList{"line 134", "line 134"} << a;
        QTest::newRow("unreadable, then a file")
            << QStringList{"unreadable", "a"} << QStringList{"line 134"} << a;
    }
    void badPaths()
    {
        QFETCH(QStringList, chosen);
        QFETCH(QStringList, added);
        const QString a = write(QStringLiteral("a.txt"), "A1\r\nA2\r\n");
        const QString pipe = dir.filePath(QStringLiteral("pipe"));
        if (!QFileInfo::exists(pipe))
            QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        QStringList paths;
        for (const QString& c : chosen)
            paths << (c == "a"            ? a
                      : c == "folder"     ? dir.path()
                      : c == "pipe"       ? pipe
                      : c == "unreadable" ? QStringLiteral("/proc/self/mem") // opens, but reading fails
                                          : dir.filePath(QStringLiteral("missing.txt")));
        fake->dialogs.fileAnswers << paths;
        const auto descriptors = QDir(QStringLiteral("/proc/self/fd")).count();
        form->PushButton3->click();
        QTEST(shownBoxes(), "boxes");
        QCOMPARE(listed(), QStringList{QStringLiteral("already there")} + added);
        QCOMPARE(QDir(QStringLiteral("/proc/self/fd")).count(), descriptors); // every file closed again
    }

    void dialogFailureReportedAt108()
    {
        fake->dialogs.onOpen = [] { throw PlatformError(QStringLiteral("no dialog")); };
        form->PushButton3->click();
        QCOMPARE(shownBoxes(), QStringList{QStringLiteral("line 108")});
        QCOMPARE(form->locations().count(), 1);
    }

    // The reader takes 64 KiB at a time; a CR ending one read and its LF opening the next are
    // still one line end, in UTF-8 and in UTF-16 alike.
    void lineEndAcrossTheReadersBuffer()
    {
        const QByteArray longLine(65535, 'x');
        QByteArray utf16("\xFF\xFEq");
        for (char c : QByteArray(32766, 'y') + "\r\nz")
            utf16.append('\0').append(c);
        utf16.append('\0');
        fake->dialogs.fileAnswers << QStringList{write(QStringLiteral("long.txt"), longLine + "\r\nnext\r\n"),
                                                 write(QStringLiteral("utf16.txt"), utf16)};
        form->PushButton3->click();
        QCOMPARE(listed(), (QStringList{QStringLiteral("already there"), QString::fromLatin1(longLine),
                                        QStringLiteral("next"), QStringLiteral("q") + QString(32766, u'y'),
                                        QStringLiteral("z")}));
    }
};

QTEST_MAIN(TestLoadListFiles)
#include "test_loadlistfiles.moc"
