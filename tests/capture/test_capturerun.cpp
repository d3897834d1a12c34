#include "app/Form1.h"
#include "capture/PageScan.h"
#include "locations/LocationList.h"
#include "support/TestPlatform.h"

#include <QBuffer>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <QtTest>

#include <memory>

using Lines = QList<QByteArray>;
using Reports = QList<int>;
const QString Base = QStringLiteral("http://maps.test");

// The capture run on the real window, with doubles for the network and the conversions: what it
// asks for, writes and reports, and how it copes with a window that acts in the middle of it.
class TestCaptureRun : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestPlatform> fake;
    std::unique_ptr<Form1> form;
    std::unique_ptr<QTemporaryDir> out, temp;

    Reports reports() const
    {
        Reports lines;
        static const QRegularExpression at(QStringLiteral("PushButton17_Click at line (\\d+)\r\r"));
        for (const auto& box : fake->window.boxes)
            if (box.title == u"Application Error")
                lines << at.match(box.text).captured(1).toInt();
        return lines;
    }
    static QStringList files(const QString& path)
    {
        return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    void run(const QStringList& locations)
    {
        for (const QString& l : locations)
            form->locations().append(l);
        form->PushButton17->click();
    }

private slots:
    void init()
    {
        fake = std::make_unique<TestPlatform>();
        form = std::make_unique<Form1>(fake->platform);
        form->setMapBaseUrl(Base);
        out = std::make_unique<QTemporaryDir>();
        temp = std::make_unique<QTemporaryDir>();
        fake->shell.variables.insert(QStringLiteral("TEMP"), temp->path());
        form->Text1->setText(out->path() + u'/');
        // A service that knows every search; its image is its own address after "GIF89a".
        fake->network.onFetch = [](const QString& url) -> QByteArray {
            if (url.startsWith(Base + QStringLiteral("/maps?")))
                return "<html>\r\n<img src=" + Base.toLatin1() + "/mapdata?q=" +
                       QUrl::toPercentEncoding(
                           QUrlQuery(QUrl(url)).queryItemValue(u"q"_qs, QUrl::FullyDecoded)) +
                       " style=\"border:0\">\r\n</html>\r\n";
            if (url.startsWith(Base + QStringLiteral("/mapdata?")))
                return "GIF89a:" + url.toUtf8();
            throw PlatformError(QStringLiteral("Cannot reach %1").arg(url));
        };
        fake->images.onToBitmap = [](const QString& source, const QString& bitmap) {
            QFile file(source);
            if (!file.open(QIODevice::ReadOnly) || !file.read(3).startsWith("GIF") ||
                !QFile::copy(source, bitmap))
                throw PlatformError(QStringLiteral("not an image"));
        };
        fake->images.onToJpeg = [](const QString& bitmap, const QString& jpeg, int) {
            QFile::remove(jpeg);
            if (!QFile::copy(bitmap, jpeg))
                throw PlatformError(QStringLiteral("no bitmap"));
        };
    }
    void cleanup() { form.reset(); }

    void pageLines_data()
    {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<Lines>("lines");
        QTest::newRow("empty") << QByteArray() << Lines{};
        QTest::newRow("CR LF, CR, none") << QByteArray("a\r\nb\rc") << Lines{"a", "b", "c"};
        QTest::newRow("LF alone stays") << QByteArray("a\nb\n\rc") << Lines{"a\nb\n", "c"};
        QTest::newRow("one LF skipped") << QByteArray("\r\n\r\r\n\n") << Lines{"", "", "", "\n"};
        const QByteArray mib((1 << 20) - 1, 'x'); // the page is read in pieces of 1 MiB
        QTest::newRow("CR LF across pieces")
            << mib + QByteArray("\r\n\0y", 4) << Lines{mib, QByteArray("\0y", 2)};
    }
    void pageLines()
    {
        QFETCH(QByteArray, page);
        QFETCH(Lines, lines);
        QBuffer buffer(&page);
        buffer.open(QIODevice::ReadOnly);
        PageLines reader(buffer);
        Lines read;
        while (!reader.atEnd())
            read << reader.next().toByteArray();
        QCOMPARE(read, lines);
    }

    void refusals_data()
    {
        QTest::addColumn<QStringList>("locations");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("message");
        const QString noFolder = QStringLiteral("Folder does not exist. Please select another folder.");
        QTest::newRow("empty list") << QStringList{} << "/"
                                    << "No files added.";
        QTest::newRow("missing folder") << QStringList{""} << "/gone/" << noFolder;
        QTest::newRow("a file") << QStringList{""} << "/file" << noFolder;
    }
    void refusals()
    {
        QFETCH(QStringList, locations);
        QFETCH(QString, folder);
        QFETCH(QString, message);
        QFile(out->filePath(QStringLiteral("file"))).open(QIODevice::WriteOnly);
        form->Text1->setText(out->path() + folder);
        run(locations);
        QCOMPARE(fake->window.boxTexts(), QStringList{message});
        QCOMPARE(fake->window.pointers,
                 (std::vector<PointerShape>{PointerShape::Busy, PointerShape::Ordinary}));
        QVERIFY(fake->network.requests.isEmpty());
        QCOMPARE(files(out->path()) + files(temp->path()), QStringList{QStringLiteral("file")});
    }

    void scan_data()
    {
        QTest::addColumn<QByteArray>("page"); // "=B" stands for "=" and the base URL
        QTest::addColumn<QString>("imageUrl");
        QTest::addColumn<Reports>("reports");
        const Reports noImage{146, 174, 176};
        QTest::newRow("trailing blanks dropped")
            << QByteArray("<img src=B/mapdata?1   style=x>") << "B/mapdata?1" << Reports{};
        QTest::newRow("empty reference") << QByteArray("img src=Bstyle=") << "" << noImage;
        QTest::newRow("uncut line keeps the earlier one")
            << QByteArray("img src=B/mapdata?1 style=\r\nimg src=B/mapdata?2\r\n") << "B/mapdata?1"
            << Reports{138};
        QTest::newRow("every uncut line reported") << QByteArray("img src=B/mapdata?1\r\nimg src=B/mapdata?2")
                                                   << "" << Reports{138, 138, 146, 174, 176};
    }
    void scan()
    {
        QFETCH(QByteArray, page);
        QFETCH(QString, imageUrl);
        QFETCH(Reports, reports);
        page.replace("=B", "=" + Base.toLatin1());
        imageUrl = imageUrl.replace(u'B', Base) + QStringLiteral("&zl=0");
        fake->network.onFetch = [&](const QString& url) {
            if (url.contains(QStringLiteral("/maps?")))
                return page;
            if (url == imageUrl && url.startsWith(Base))
                return QByteArray("GIF89a");
            throw PlatformError(QStringLiteral("Cannot reach %1").arg(url));
        };
        run({QStringLiteral("x")});
        QCOMPARE(fake->network.requests.last(), imageUrl);
        QCOMPARE(this->reports(), reports);
    }

    // Failures the map service can't cause: reported, and the next location is unharmed.
    void failures_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<Reports>("reports");
        QTest::newRow("zoom not a number") << "zoom" << Reports{142, 146, 162, 168, 170, 174, 176};
        QTest::newRow("no work folder") << "temp" << Reports{106, 146, 174, 176, 146, 174, 176};
        QTest::newRow("file name too long") << "name" << Reports{168, 170, 174, 176};
    }
    void failures()
    {
        QFETCH(QString, fault);
        QFETCH(Reports, reports);
        int yields = 0;
        if (fault == u"zoom")
            fake->window.onYield = [&] {
                // Past the box's own correction, as a text the box could not hold for long.
                const QSignalBlocker quiet(form->Text2);
                form->Text2->setText(++yields <= 6 ? "abc" : "1");
            };
        if (fault == u"temp")
            fake->shell.variables.insert(QStringLiteral("TEMP"), temp->filePath(QStringLiteral("gone")));
        const QString cwd = QDir::currentPath();
        QDir::setCurrent(out->path()); // where a name without its stem would land
        run({fault == u"name" ? QString(300, u'x') : QStringLiteral("bad"), QStringLiteral("good")});
        QDir::setCurrent(cwd);
        QCOMPARE(this->reports(), reports);
        QCOMPARE(fake->window.boxTexts().last(), QStringLiteral("Done."));
        QCOMPARE(files(out->path()) + files(temp->path()),
                 fault == u"temp" ? QStringList{} : QStringList{QStringLiteral("good_1.jpg")});
    }

    void windowActsMidRun()
    {
        // A second click while the run yields is ignored.
        fake->window.onYield = [&] { form->PushButton17->click(); };
        run({QStringLiteral("a"), QStringLiteral("b")});
        QCOMPARE(fake->network.requests.size(), 4);

        // A list that shrinks under the run ends it at its new end.
        form->locations().clear();
        fake->window.onYield = [&] {
            if (form->locations().count() == 3)
                form->locations().removeAt(3);
        };
        run({QStringLiteral("c"), QStringLiteral("d"), QStringLiteral("e")});
        QCOMPARE(files(out->path()), (QStringList{"a_1.jpg", "b_1.jpg", "c_1.jpg", "d_1.jpg"}));

        // Emptied in the middle of a location: that one still finishes.
        form->locations().clear();
        int yields = 0;
        fake->window.onYield = [&] {
            if (++yields == 2)
                form->locations().clear();
        };
        run({QStringLiteral("f"), QStringLiteral("g")});
        QCOMPARE(files(out->path()).size(), 5);
        QCOMPARE(reports(), Reports{});
        QCOMPARE(fake->window.boxTexts(), QStringList(3, QStringLiteral("Done.")));
    }

    void closeMidRun()
    {
        int yields = 0;
        QStringList during;
        fake->window.onYield = [&] {
            if (++yields == 5) { // just before the GIF work file is removed
                during = files(out->path());
                form->Form_Unload();
            }
        };
        form->locations().append(QStringLiteral("a"));
        QVERIFY_THROWS_EXCEPTION(ProgramEnded, form->PushButton17_Click());
        QCOMPARE(during, (QStringList{"a_1.bmp", "a_1.gif", "a_1.jpg"}));
        QCOMPARE(files(out->path()) + files(temp->path()), QStringList{"a_1.jpg"});
        // The next run is neither taken for a second click nor still hooked to the end.
        fake->window.onYield = nullptr;
        form->PushButton17->click();
        QCOMPARE(fake->window.boxTexts(), QStringList{QStringLiteral("Done.")});
    }
};

QTEST_MAIN(TestCaptureRun)
#include "test_capturerun.moc"
