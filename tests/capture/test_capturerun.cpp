#include "app/Form1.h"
#include "locations/LocationList.h"
#include "support/TestPlatform.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <QtTest>

#include <memory>

namespace {

const QString Base = QStringLiteral("http://maps.test");

QString PageUrl(const QString& encodedSearch)
{
    return Base + QStringLiteral("/maps?f=q&source=s_q&output=html&hl=en&q=") + encodedSearch +
           QStringLiteral("&zoom=1");
}

// A page in the service's form: the image tag on a line among others.
QByteArray Page(const QByteArray& reference)
{
    return "<html>\r\n<p>map</p>\r\n<img src=" + Base.toLatin1() + "/mapdata?" + reference +
           " style=\"border:0\">\r\n</html>\r\n";
}

} // namespace

// The capture run on the real window with doubles for the network and the conversions: what it
// asks for, what it writes, what it reports, and how it survives a window that acts mid-run.
class TestCaptureRun : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestPlatform> fake;
    std::unique_ptr<Form1> form;
    std::unique_ptr<QTemporaryDir> out;
    std::unique_ptr<QTemporaryDir> temp;
    QList<int> qualities;

    QList<int> reportedLines() const
    {
        QList<int> lines;
        static const QRegularExpression at(QStringLiteral("PushButton17_Click at line (\\d+)\r\r"));
        for (const auto& box : fake->window.boxes)
            if (box.title == u"Application Error")
                lines << at.match(box.text).captured(1).toInt();
        return lines;
    }
    QStringList files(const QString& path) const
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
        form->Text1->setText(out->path() + QLatin1Char('/'));
        // A service that knows every search: its image is the search's own bytes.
        fake->network.onFetch = [](const QString& url) -> QByteArray {
            const QUrlQuery query{QUrl(url)};
            if (url.startsWith(Base + QStringLiteral("/maps?")))
                return Page("q=" + QUrl::toPercentEncoding(
                                       query.queryItemValue(QStringLiteral("q"), QUrl::FullyDecoded)));
            if (url.startsWith(Base + QStringLiteral("/mapdata?")))
                return "GIF89a:" + url.toUtf8();
            throw PlatformError(QStringLiteral("Cannot reach %1").arg(url));
        };
        qualities.clear();
        fake->images.onToBitmap = [](const QString& source, const QString& bitmap) {
            QFile file(source);
            if (!file.open(QIODevice::ReadOnly) || !file.read(3).startsWith("GIF") ||
                !QFile::copy(source, bitmap))
                throw PlatformError(QStringLiteral("not an image"));
        };
        fake->images.onToJpeg = [this](const QString& bitmap, const QString& jpeg, int quality) {
            qualities << quality;
            QFile::remove(jpeg);
            if (!QFile::copy(bitmap, jpeg))
                throw PlatformError(QStringLiteral("no bitmap"));
        };
    }
    void cleanup()
    {
        form.reset();
        fake.reset();
    }

    void refusals_data()
    {
        QTest::addColumn<QStringList>("locations");
        QTest::addColumn<QString>("folder"); // relative to the output folder; null: empty text
        QTest::addColumn<QString>("message");
        const QString noFolder = QStringLiteral("Folder does not exist. Please select another folder.");
        QTest::newRow("empty list") << QStringList{} << QStringLiteral("")
                                    << QStringLiteral("No files added.");
        QTest::newRow("empty folder text") << QStringList{QStringLiteral("a")} << QString() << noFolder;
        QTest::newRow("missing folder")
            << QStringList{QStringLiteral("a")} << QStringLiteral("gone/") << noFolder;
        QTest::newRow("a file") << QStringList{QStringLiteral("a")} << QStringLiteral("file") << noFolder;
    }
    void refusals()
    {
        QFETCH(QStringList, locations);
        QFETCH(QString, folder);
        QFETCH(QString, message);
        QFile(out->filePath(QStringLiteral("file"))).open(QIODevice::WriteOnly);
        form->Text1->setText(folder.isNull() ? QString() : out->path() + QLatin1Char('/') + folder);
        run(locations);
        QCOMPARE(fake->window.boxTexts(), QStringList{message});
        QCOMPARE(fake->window.boxes.front().style, 0);
        QCOMPARE(fake->window.pointers,
                 (std::vector<PointerShape>{PointerShape::Busy, PointerShape::Ordinary}));
        QVERIFY(fake->network.requests.isEmpty());
        QCOMPARE(files(out->path()), QStringList{QStringLiteral("file")});
        QVERIFY(files(temp->path()).isEmpty());
    }

    void wholeRun()
    {
        form->Text2->setText(QStringLiteral("5"));
        form->Slider1->setValue(85);
        QList<double> progress;
        QStringList captions;
        QStringList workFolders;
        const auto serve = fake->network.onFetch;
        fake->network.onFetch = [&](const QString& url) {
            // The page work folder exists only during the run and only its owner may enter it.
            for (const QFileInfo& f : QDir(temp->path()).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
                workFolders
                    << QStringLiteral("%1 %2").arg(f.fileName().left(10)).arg(int(f.permissions()), 0, 16);
            return serve(url);
        };
        fake->window.onYield = [&] {
            progress << form->ProgressBar1->percent();
            captions << form->ProgressBar1->text();
        };
        run({QStringLiteral(" Haverhill MA "), QStringLiteral("a#b&c+d e"), QStringLiteral("Haverhill MA")});

        QCOMPARE(fake->network.requests,
                 (QStringList{PageUrl(QStringLiteral("Haverhill%20MA")),
                              Base + QStringLiteral("/mapdata?q=Haverhill%20MA&zl=4"),
                              PageUrl(QStringLiteral("a%23b%26c%2Bd%20e")),
                              Base + QStringLiteral("/mapdata?q=a%23b%26c%2Bd%20e&zl=4"),
                              PageUrl(QStringLiteral("Haverhill%20MA")),
                              Base + QStringLiteral("/mapdata?q=Haverhill%20MA&zl=4")}));
        QCOMPARE(files(out->path()),
                 (QStringList{QStringLiteral("Haverhill MA_5.jpg"), QStringLiteral("a#b&c+d e_5.jpg")}));
        // The image bytes reach the conversions exactly as served.
        QFile jpg(out->filePath(QStringLiteral("Haverhill MA_5.jpg")));
        QVERIFY(jpg.open(QIODevice::ReadOnly));
        QCOMPARE(jpg.readAll(), "GIF89a:" + Base.toUtf8() + "/mapdata?q=Haverhill%20MA&zl=4");
        QCOMPARE(qualities, (QList<int>{85, 85, 85}));

        QCOMPARE(fake->window.yields, 18);
        // Six yields per location; the bar reads i/n from the moment location i begins.
        const QList<double> expected = {0,  33, 33, 33,        33,  33,  100.0 / 3, 66,  66,
                                        66, 66, 66, 200.0 / 3, 100, 100, 100,       100, 100};
        QCOMPARE(progress, expected);
        QCOMPARE(captions.at(1), QStringLiteral("Processing:  Haverhill MA "));
        QCOMPARE(form->ProgressBar1->percent(), 0.0);
        QCOMPARE(form->ProgressBar1->text(), QStringLiteral("Progress Bar"));
        QCOMPARE(fake->window.pointers,
                 (std::vector<PointerShape>{PointerShape::Busy, PointerShape::Ordinary}));
        QCOMPARE(fake->window.boxTexts(), QStringList{QStringLiteral("Done.")});
        QCOMPARE(workFolders.size(), 6);
        QCOMPARE(workFolders.front(), QStringLiteral("orrowdale- 7700"));
        QVERIFY(files(temp->path()).isEmpty());
    }

    void names_data()
    {
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("zoom");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("zl");
        QTest::newRow("replaced characters") << "Route 1/Main St?"
                                             << "1"
                                             << "Route 1 Main St _1.jpg"
                                             << "0";
        QTest::newRow("all six") << "a/b*c?d<e>f|g"
                                 << "1"
                                 << "a b c d e f g_1.jpg"
                                 << "0";
        QTest::newRow("others stay") << "\tx:\\\".y"
                                     << "18"
                                     << "\tx:\\\".y_18.jpg"
                                     << "17";
        QTest::newRow("empty location") << ""
                                        << "1"
                                        << "_1.jpg"
                                        << "0";
        QTest::newRow("half to even down") << "x"
                                           << "2.5"
                                           << "x_2.jpg"
                                           << "1";
        QTest::newRow("half to even up") << "x"
                                         << "3.5"
                                         << "x_4.jpg"
                                         << "3";
    }
    void names()
    {
        QFETCH(QString, location);
        QFETCH(QString, zoom);
        QFETCH(QString, file);
        QFETCH(QString, zl);
        form->Text2->setText(zoom);
        run({location});
        QCOMPARE(reportedLines(), QList<int>{});
        QCOMPARE(files(out->path()), QStringList{file});
        QVERIFY(fake->network.requests.last().endsWith(QStringLiteral("&zl=") + zl));
    }

    void scan_data()
    {
        QTest::addColumn<QByteArray>("page"); // B stands for the base URL
        QTest::addColumn<QString>("imageUrl");
        QTest::addColumn<QList<int>>("reports");
        const QList<int> noImage{146, 174, 176};
        QTest::newRow("last matching line wins")
            << QByteArray("img src=B/mapdata?1 style=\r\nimg src=B/mapdata?2 style=\r\n")
            << "B/mapdata?2&zl=0" << QList<int>{};
        QTest::newRow("LF alone: one line, first match")
            << QByteArray("img src=B/mapdata?1 style=\nimg src=B/mapdata?2 style=\n") << "B/mapdata?1&zl=0"
            << QList<int>{};
        QTest::newRow("CR alone ends lines")
            << QByteArray("img src=B/mapdata?1 style=\rimg src=B/mapdata?2 style=") << "B/mapdata?2&zl=0"
            << QList<int>{};
        QTest::newRow("trailing blanks dropped")
            << QByteArray("<img src=B/mapdata?1   style=x>") << "B/mapdata?1&zl=0" << QList<int>{};
        QTest::newRow("quoted source") << QByteArray("img src=\"B/mapdata?1\" style=") << "&zl=0" << noImage;
        QTest::newRow("other case") << QByteArray("IMG SRC=B/mapdata?1 style=") << "&zl=0" << noImage;
        QTest::newRow("empty reference") << QByteArray("img src=Bstyle=") << "&zl=0" << noImage;
        QTest::newRow("uncut line keeps the earlier one")
            << QByteArray("img src=B/mapdata?1 style=\r\nimg src=B/mapdata?2\r\n") << "B/mapdata?1&zl=0"
            << QList<int>{138};
        QTest::newRow("every uncut line reported")
            << QByteArray("img src=B/mapdata?1\r\nimg src=B/mapdata?2\r\n") << "&zl=0"
            << QList<int>{138, 138, 146, 174, 176};
    }
    void scan()
    {
        QFETCH(QByteArray, page);
        QFETCH(QString, imageUrl);
        QFETCH(QList<int>, reports);
        page.replace("=B", "=" + Base.toLatin1());
        imageUrl.replace(QStringLiteral("B/"), Base + QLatin1Char('/'));
        fake->network.onFetch = [&](const QString& url) {
            if (url.contains(QStringLiteral("/maps?")))
                return page;
            if (url == imageUrl && url.startsWith(Base))
                return QByteArray("GIF89a");
            throw PlatformError(QStringLiteral("Cannot reach %1").arg(url));
        };
        run({QStringLiteral("x")});
        QCOMPARE(fake->network.requests.last(), imageUrl);
        QCOMPARE(reportedLines(), reports);
    }

    // A failing step is reported and the same location goes on; the next location is unharmed.
    void failures_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QList<int>>("reports");
        QTest::newRow("image fetch") << "image" << QList<int>{146, 174, 176};
        QTest::newRow("page fetch, not reported") << "page" << QList<int>{146, 174, 176};
        QTest::newRow("zoom not a number") << "zoom" << QList<int>{142, 146, 162, 168, 170, 174, 176};
        QTest::newRow("no work folder") << "temp" << QList<int>{106, 146, 174, 176, 146, 174, 176};
        QTest::newRow("output sub-folder missing") << "folder" << QList<int>{168, 170, 174, 176};
    }
    void failures()
    {
        QFETCH(QString, fault);
        QFETCH(QList<int>, reports);
        const auto serve = fake->network.onFetch;
        fake->network.onFetch = [&](const QString& url) -> QByteArray {
            if (url.contains(QStringLiteral("bad")) &&
                url.contains(fault == u"page" ? u"/maps?" : u"/mapdata?"))
                throw PlatformError(QStringLiteral("Cannot fetch"));
            return serve(url);
        };
        QString bad = QStringLiteral("bad");
        if (fault == u"temp")
            fake->shell.variables.insert(QStringLiteral("TEMP"), temp->filePath(QStringLiteral("gone")));
        if (fault == u"folder")
            bad = QString(300, u'x'); // longer than a file name may be
        int yields = 0;
        if (fault == u"zoom")
            fake->window.onYield = [&] { form->Text2->setText(++yields <= 6 ? "abc" : "1"); };
        const QString cwd = QDir::currentPath();
        QDir::setCurrent(out->path());
        run({bad, QStringLiteral("good")});
        QDir::setCurrent(cwd);
        QCOMPARE(reportedLines(), reports);
        QCOMPARE(fake->window.boxTexts().last(), QStringLiteral("Done."));
        // Nothing stray: no work file, and no bare "gif" from a file name without its stem.
        QCOMPARE(files(out->path()),
                 fault == u"temp" ? QStringList{} : QStringList{QStringLiteral("good_1.jpg")});
        QVERIFY(files(temp->path()).isEmpty());
    }

    void windowActsMidRun()
    {
        // A second click while the run yields is ignored.
        fake->window.onYield = [&] { form->PushButton17->click(); };
        run({QStringLiteral("a"), QStringLiteral("b")});
        QCOMPARE(fake->network.requests.size(), 4);
        QCOMPARE(fake->window.boxTexts(), QStringList{QStringLiteral("Done.")});

        // A list that shrinks under the run ends it at its new end, without a report.
        form->locations().clear();
        fake->network.requests.clear();
        fake->window.boxes.clear();
        fake->window.onYield = [&] {
            if (form->locations().count() == 3)
                form->locations().removeAt(3);
        };
        run({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
        QCOMPARE(fake->network.requests.size(), 4);
        QCOMPARE(fake->window.boxTexts(), QStringList{QStringLiteral("Done.")});
        QCOMPARE(files(out->path()), (QStringList{QStringLiteral("a_1.jpg"), QStringLiteral("b_1.jpg")}));

        // A list emptied mid-location: that location finishes, the bar shows it complete.
        form->locations().clear();
        int yields = 0;
        fake->window.onYield = [&] {
            if (++yields == 2)
                form->locations().clear();
        };
        run({QStringLiteral("c"), QStringLiteral("d")});
        QCOMPARE(reportedLines(), QList<int>{});
        QCOMPARE(files(out->path()).size(), 3);
    }

    void closeMidRun()
    {
        // The fifth yield of a location comes just before its GIF work file is removed.
        int yields = 0;
        QStringList during;
        fake->window.onYield = [&] {
            if (++yields == 5) {
                during = files(out->path());
                form->Form_Unload();
            }
        };
        form->locations().append(QStringLiteral("a"));
        QVERIFY_THROWS_EXCEPTION(ProgramEnded, form->PushButton17_Click());
        QCOMPARE(during, (QStringList{QStringLiteral("a_1.bmp"), QStringLiteral("a_1.gif"),
                                      QStringLiteral("a_1.jpg")}));
        QCOMPARE(files(out->path()), QStringList{QStringLiteral("a_1.jpg")});
        QVERIFY(files(temp->path()).isEmpty());

        // The next run is not mistaken for a second click, and no longer hooked to the end.
        fake->window.onYield = nullptr;
        form->PushButton17->click();
        QCOMPARE(fake->window.boxTexts(), QStringList{QStringLiteral("Done.")});
        QVERIFY(fake->window.ended);
    }
};

QTEST_MAIN(TestCaptureRun)
#include "test_capturerun.moc"
