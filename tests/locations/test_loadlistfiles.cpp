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

    // "File not found", or "line N" for an Application Error at statement N.
    QStringList shownBoxes() const
    {
        QStringList shown;
        for (const auto& box : fake->window.boxes) {
            if (box.title == QStringLiteral("Application Error")) {
                const QString at = QStringLiteral("in Kestrelby2016/11/03.Form1.PushButton3_Click at line ");
                const qsizetype i = box.text.indexOf(at);
                shown << (i < 0 ? box.text : QStringLiteral("line ") + box.text.mid(i + at.size(), 3));
                if (box.style != 48)
                    shown << QStringLiteral("wrong style");
            } else {
                shown << box.text;
                if (box.style != 0 || box.title != QStringLiteral("Orrowdale"))
                    shown << QStringLiteral("wrong style or title");
            }
        }
        return shown;
    }

    static int openDescriptors() { return int(QDir(QStringLiteral("/proc/self/fd")).count()); }

private slots:
    void init()
    {
        fake = std::make_unique<TestPlatform>();
        form = std::make_unique<Form1>(fake->platform);
        fake->window.setApplicationTitle(QStringLiteral("Orrowdale"));
        form->locations().append(QStringLiteral("already there"));
    }
    void cleanup()
    {
        form.reset();
        fake.reset();
    }

    void cancelChangesNothing()
    {
        form->PushButton3->click();
        QCOMPARE(fake->dialogs.opened, 1);
        QCOMPARE(fake->dialogs.lastTitle,
                 QStringLiteral("Load List(s) - Hold Ctrl to select multiple list files"));
        QCOMPARE(fake->dialogs.lastFilters,
                 (QStringList{QStringLiteral("Text Files (*.txt)"), QStringLiteral("All Files (*.*)")}));
        QCOMPARE(listed(), QStringList{QStringLiteral("already there")});
        QVERIFY(fake->window.pointers.empty());
        QVERIFY(fake->window.boxes.empty());
    }

    void filesAppendedInDialogOrder()
    {
        const QString b = write(QStringLiteral("b.txt"), "B1\r\nB2\r\n");
        const QString a = write(QStringLiteral("a.list"), "A1\nA2");
        const QString empty = write(QStringLiteral("empty.txt"), "");
        fake->dialogs.fileAnswers << QStringList{b, a, empty, b};
        form->PushButton3->click();
        QCOMPARE(listed(), (QStringList{QStringLiteral("already there"), QStringLiteral("B1"),
                                        QStringLiteral("B2"), QStringLiteral("A1"), QStringLiteral("A2"),
                                        QStringLiteral("B1"), QStringLiteral("B2")}));
        QCOMPARE(fake->window.pointers,
                 (std::vector<PointerShape>{PointerShape::Busy, PointerShape::Ordinary}));
        QVERIFY(fake->window.boxes.empty());
    }

    void badPaths_data()
    {
        QTest::addColumn<QStringList>("chosen");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QStringList>("added");
        const QString notFound = QStringLiteral("File not found");
        const QStringList a{QStringLiteral("A1"), QStringLiteral("A2")};
        QTest::newRow("missing file") << QStringList{"missing"} << QStringList{notFound} << QStringList{};
        QTest::newRow("folder") << QStringList{"folder"} << QStringList{"line 120"} << QStringList{};
        QTest::newRow("unreadable file")
            << QStringList{"unreadable"} << QStringList{"line 120"} << QStringList{};
        QTest::newRow("pipe") << QStringList{"pipe"} << QStringList{"line 120"} << QStringList{};
        QTest::newRow("missing, then a file") << QStringList{"missing", "a"} << QStringList{notFound} << a;
        QTest::newRow("folders around a file")
            << QStringList{"folder", "a", "folder"} << QStringList{"line 134", "line 134"} << a;
        QTest::newRow("unreadable, then a file")
            << QStringList{"unreadable", "a"} << QStringList{"line 134"} << a;
    }
    void badPaths()
    {
        QFETCH(QStringList, chosen);
        QFETCH(QStringList, boxes);
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
        const int descriptors = openDescriptors();
        form->PushButton3->click();
        QCOMPARE(shownBoxes(), boxes);
        QCOMPARE(listed(), QStringList{QStringLiteral("already there")} + added);
        QCOMPARE(fake->window.pointers,
                 (std::vector<PointerShape>{PointerShape::Busy, PointerShape::Ordinary}));
        QCOMPARE(openDescriptors(), descriptors); // every file closed again
    }

    void dialogFailureReportedAt108()
    {
        fake->dialogs.onOpen = [] {
            throw PlatformError(QStringLiteral("The file dialog could not be shown"));
        };
        form->PushButton3->click();
        QCOMPARE(shownBoxes(), QStringList{QStringLiteral("line 108")});
        QVERIFY(fake->window.boxes.front().text.startsWith(
            QStringLiteral("The file dialog could not be shown\r\n")));
        QCOMPARE(form->locations().count(), 1);
        QVERIFY(fake->window.pointers.empty());
    }

    // The reader takes 64 KiB at a time; a CR ending one read and its LF opening the next are
    // still one line end, in UTF-8 and in UTF-16 alike.
    void lineEndAcrossTheReadersBuffer()
    {
        const QByteArray longLine(65535, 'x');
        QByteArray utf16("\xFF\xFE");
        for (char c : QByteArray(32766, 'y') + "\r\nz")
            utf16.append(c).append('\0');
        utf16.insert(2, '\0').insert(2, 'q'); // one more unit puts the CR at the end of the first read
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
