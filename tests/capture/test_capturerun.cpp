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
    QList<int> qualities;

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

    void wholeRun()
    {
        form->Text2->setText(QStringLiteral("5"));
        form->Slider1->setValue(85);
        QList<double> progress;
        QString caption;
        QStringList workFolders;
        fake->window.onYield = [&] {
            progress << form->ProgressBar1->percent();
            caption = form->ProgressBar1->text();
            for (const QFileInfo& f : QDir(temp->path()).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
                workFolders << QString::number(int(f.permissions()), 16);
        };
        run({QStringLiteral(" Haverhill MA "), QStringLiteral("a#b&c+d e"), QStringLiteral("Haverhill MA")});

        const QString page = Base + QStringLiteral("/maps?f=q&source=s_q&output=html&hl=en&q=%1&zoom=1");
        const QString image = Base + QStringLiteral("/mapdata?q=%1&zl=4");
        const QString one = QStringLiteral("Haverhill%20MA"), two = QStringLiteral("a%23b%26c%2Bd%20e");
        QCOMPARE(fake->network.requests, (QStringList{page.arg(one), image.arg(one), page.arg(two),
                                                      image.arg(two), page.arg(one), image.arg(one)}));
        QCOMPARE(files(out->path()), (QStringList{"Haverhill MA_5.jpg", "a#b&c+d e_5.jpg"}));
        QFile jpg(out->filePath(QStringLiteral("Haverhill MA_5.jpg"))); // the served bytes, untouched
        QVERIFY(jpg.open(QIODevice::ReadOnly));
        QCOMPARE(jpg.readAll(), "GIF89a:" + image.arg(one).toUtf8());
        QCOMPARE(qualities, (QList<int>{85, 85, 85}));
        // Six yields per location; the bar reads i/n from the moment location i begins.
        QCOMPARE(progress, (QList<double>{0, 33, 33, 33, 33, 33, 100.0 / 3, 66, 66, 66, 66, 66, 200.0 / 3,
                                          100, 100, 100, 100, 100}));
        QCOMPARE(caption, QStringLiteral("Processing: Haverhill MA"));
        QCOMPARE(form->ProgressBar1->percent(), 0.0);
        QCOMPARE(form->ProgressBar1->text(), QStringLiteral("Progress Bar"));
        QCOMPARE(fake->window.pointers,
                 (std::vector<PointerShape>{PointerShape::Busy, PointerShape::Ordinary}));
        QCOMPARE(fake->window.boxTexts(), QStringList{QStringLiteral("Done.")});
        QCOMPARE(workFolders, QStringList(18, QStringLiteral("7700"))); // owner only
        QVERIFY(files(temp->path()).isEmpty());
    }

    void names_data()
    {
        QTest::addColumn<QString>("location");
        QTest::addColumn<QString>("zoom");
        QTest::addColumn<QString>("file");
        QTest::newRow("replaced characters") << "Route 1/Main St?"
                                             << "1"
                                             << "Route 1 Main St _1.jpg&zl=0";
        QTest::newRow("all six, others stay") << "\ta/b*c?d<e>f|g:\\\"."
                                              << "18"
                                              << "\ta b c d e f g:\\\"._18.jpg&zl=17";
        QTest::newRow("empty location") << ""
                                        << "1"
                                        << "_1.jpg&zl=0";
        QTest::newRow("half to even down") << "x"
                                           << "2.5"
                                           << "x_2.jpg&zl=1";
        QTest::newRow("half to even up") << "x"
                                         << "3.5"
                                         << "x_4.jpg&zl=3";
    }
    void names()
    {
        QFETCH(QString, location);
        QFETCH(QString, zoom);
        QFETCH(QString, file);
        form->Text2->setText(zoom);
        run({location});
        QCOMPARE(reports(), Reports{});
        QCOMPARE(files(out->path()).value(0) + fake->network.requests.last().section(u'&', -1).prepend(u'&'),
                 file);
    }

    void scan_data()
    {
        QTest::addColumn<QByteArray>("page"); // "=B" stands for "=" and the base URL
        QTest::addColumn<QString>("imageUrl");
        QTest::addColumn<Reports>("reports");
        const Reports noImage{146, 174, 176};
        QTest::newRow("last matching line wins")
            << QByteArray("img src=B/mapdata?1 style=\r\nimg src=B/mapdata?2 style=\r\n") << "B/mapdata?2"
            << Reports{};
        QTest::newRow("LF alone: one line, first match")
            << QByteArray("img src=B/mapdata?1 style=\nimg src=B/mapdata?2 style=\n") << "B/mapdata?1"
            << Reports{};
        QTest::newRow("trailing blanks dropped")
            << QByteArray("<img src=B/mapdata?1   style=x>") << "B/mapdata?1" << Reports{};
        QTest::newRow("quoted source") << QByteArray("img src=\"B/mapdata?1\" style=") << "" << noImage;
        QTest::newRow("other case") << QByteArray("IMG SRC=B/mapdata?1 style=") << "" << noImage;
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

    // A failing step is reported and its location goes on; the next location is unharmed.
    void failures_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<Reports>("reports");
        QTest::newRow("image fetch") << "image" << Reports{146, 174, 176};
        QTest::newRow("page fetch, not reported") << "page" << Reports{146, 174, 176};
        QTest::newRow("zoom not a number") << "zoom" << Reports{142, 146, 162, 168, 170, 174, 176};
        QTest::newRow("no work folder") << "temp" << Reports{106, 146, 174, 176, 146, 174, 176};
        QTest::newRow("file name too long") << "name" << Reports{168, 170, 174, 176};
    }
    void failures()
    {
        QFETCH(QString, fault);
        QFETCH(Reports, reports);
        const auto serve = fake->network.onFetch;
        fake->network.onFetch = [&](const QString& url) -> QByteArray {
            if (url.contains(u"bad") && url.contains(fault == u"page" ? u"/maps?" : u"/mapdata?"))
                throw PlatformError(QStringLiteral("Cannot fetch"));
            return serve(url);
        };
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
