#include "app/Form1.h"
#include "locations/LocationList.h"
#include "platform/qt/QtImageFormat.h"
#include "platform/qt/QtNetwork.h"
#include "support/CaptureWindow.h"
#include "support/Form1Access.h"
#include "support/MapServiceProcess.h"

#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace std::chrono_literals;
using Reports = QList<int>;

// Whole capture runs on the real window, network code and conversions, against the local map
// service and every fault it can play, and with a window that acts in the middle of a run.
class TestEndToEnd : public QObject
{
    Q_OBJECT

    // Faults end on the service's side long after ours, so ours are the ones that show.
    MapServiceProcess service{{"--stall-ms", "5000", "--drip-ms", "100", "--endless-bytes", "4000000"}};
    QtNetwork network;
    QtImageFormat images;
    std::unique_ptr<CaptureWindow> app;

    Reports reports() const
    {
        Reports lines;
        static const QRegularExpression at(QStringLiteral("PushButton17_Click at line (\\d+)\r\r"));
        for (const auto& box : app->fake.window.boxes)
            if (box.title == u"Application Error")
                lines << at.match(box.text).captured(1).toInt();
        return lines;
    }
    // The description of the first report at line, or "" when there is none.
    QString said(int line) const
    {
        static const QRegularExpression at(QStringLiteral("^(.*)\r\n.*PushButton17_Click at line (\\d+)\r\r"),
                                           QRegularExpression::DotMatchesEverythingOption);
        for (const auto& box : app->fake.window.boxes) {
            const QRegularExpressionMatch m = at.match(box.text);
            if (box.title == u"Application Error" && m.captured(2).toInt() == line)
                return m.captured(1);
        }
        return {};
    }
    static QByteArray contents(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    }
    static QStringList files(const QString& path)
    {
        return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    QSize pictureSize(const QString& name) const { return QImage(app->out.filePath(name)).size(); }
    void run(const QStringList& locations)
    {
        for (const QString& l : locations)
            app->form.locations().append(l);
        app->form.PushButton17->click();
        QCOMPARE(app->fake.window.boxTexts().last(), QStringLiteral("Done."));
        QCOMPARE(files(app->temp.path()), QStringList{}); // the private work folder is gone
        // The bar at rest again: its value too, not only its text.
        QCOMPARE(app->form.ProgressBar1->percent(), 0.0);
        QCOMPARE(app->form.ProgressBar1->text(), QStringLiteral("Progress Bar"));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(service.isRunning(), qPrintable(service.errorString()));
        network.setIdleTimeout(600ms);
        network.setDeadline(2s);
        network.setSizeCap(1024 * 1024);
    }
    void init()
    {
        app = std::make_unique<CaptureWindow>(network, images, service.baseUrl(), QStringLiteral("1"));
    }
    void cleanup() { app.reset(); }

    // The samples, watched at every yield: six a location, the bar at i/n from the start of
    // location i, a work folder for the user alone.
    void samples()
    {
        QList<double> progress;
        QStringList workFolders;
        app->fake.window.onYield = [&] {
            progress << app->form.ProgressBar1->percent();
            for (const QFileInfo& f : QDir(app->temp.path()).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
                workFolders << QString::number(int(f.permissions()), 16);
        };
        app->form.PushButton5->click();
        run({});
        QCOMPARE(reports(), Reports{});
        const QStringList jpgs = CaptureWindow::sampleJpgs(QStringLiteral("1"));
        QCOMPARE(files(app->out.path()), jpgs);
        for (const QString& jpg : jpgs)
            QCOMPARE(pictureSize(jpg), QSize(640, 640));
        QCOMPARE(progress, (QList<double>{0, 33, 33, 33, 33, 33, 100.0 / 3, 66, 66, 66, 66, 66, 200.0 / 3,
                                          100, 100, 100, 100, 100}));
        QCOMPARE(workFolders, QStringList(18, QStringLiteral("7700")));
        QCOMPARE(app->form.ProgressBar1->text(), QStringLiteral("Progress Bar"));
    }

    void refusals_data()
    {
        QTest::addColumn<QStringList>("locations");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("message");
        const QString noFolder = QStringLiteral("Folder does not exist. Please select another folder.");
        QTest::newRow("empty list") << QStringList{} << "/" << QStringLiteral("No files added.");
        QTest::newRow("missing folder") << QStringList{""} << "/gone/" << noFolder;
        QTest::newRow("a file") << QStringList{""} << "/file" << noFolder;
        // Cut at the NUL, the text would name the output folder itself.
        QTest::newRow("NUL in the folder") << QStringList{""} << QString(QChar(0)) + u'/' << noFolder;
    }
    void refusals()
    {
        QFETCH(QStringList, locations);
        QFETCH(QString, folder);
        QFile(app->out.filePath(QStringLiteral("file"))).open(QIODevice::WriteOnly);
        app->form.Text1->setText(app->out.path() + folder);
        app->form.locations().appendMany(locations);
        const qsizetype before = service.requestTargets().size();
        app->form.PushButton17->click();
        QTEST(app->fake.window.boxTexts().join(u'|'), "message");
        QCOMPARE(app->fake.window.pointers,
                 (std::vector<PointerShape>{PointerShape::Busy, PointerShape::Ordinary}));
        QCOMPARE(service.requestTargets().size(), before);
        QCOMPARE(files(app->out.path()) + files(app->temp.path()), QStringList{QStringLiteral("file")});
    }

    void namesAndZoom_data()
    {
        QTest::addColumn<QStringList>("locations");
        QTest::addColumn<QString>("zoom");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("query"); // the search as the service must receive it
        QTest::addColumn<QString>("zl");
        const auto row = [](const char* name, const QStringList& locations, const char* zoom,
                            const char* file, const char* query, const char* zl) {
            QTest::newRow(name) << locations << zoom << file << query << zl;
        };
        row("replaced", {"Route 1/Main St?"}, "1", "Route 1 Main St _1.jpg", "Route%201%2FMain%20St%3F", "0");
        row("twice, trimmed", {"Haverhill MA", " Haverhill MA "}, "5", "Haverhill MA_5.jpg", "Haverhill%20MA",
            "4");
        row("all six, others stay", {"a/b*c?d<e>f|g:\\\".#&+"}, "18", "a b c d e f g:\\\".#&+_18.jpg",
            "a%2Fb%2Ac%3Fd%3Ce%3Ef%7Cg%3A%5C%22.%23%26%2B", "17");
        row("half to even", {"x"}, "2.5", "x_2.jpg", "x", "1");
        row("only blanks trimmed", {" \tx\t "}, "1", "\tx\t_1.jpg", "%09x%09", "0");
    }
    void namesAndZoom()
    {
        QFETCH(QStringList, locations);
        QFETCH(QString, zoom);
        QFETCH(QString, query);
        QFETCH(QString, zl);
        app->form.Text2->setText(zoom.left(1)); // past the box's own rounding
        app->form.Text2->setText(zoom);
        const qsizetype before = service.requestTargets().size();
        run(locations);
        QCOMPARE(reports(), Reports{});
        QTEST(files(app->out.path()).join(u'|'), "file");
        const QStringList pair{"/maps?f=q&source=s_q&output=html&hl=en&q=" + query + "&zoom=1",
                               "/mapdata?oi=map&q=" + query + "&w=640&h=640&zl=" + zl};
        QCOMPARE(service.requestTargets().mid(before), locations.size() == 1 ? pair : pair + pair);
    }

    void quality()
    {
        qint64 sizes[2];
        for (int i : {0, 1}) {
            app->form.Slider1->setValue(i == 0 ? 1 : 100);
            run({QStringLiteral("Haverhill MA")});
            sizes[i] = QFileInfo(app->out.filePath(QStringLiteral("Haverhill MA_1.jpg"))).size();
        }
        QVERIFY2(0 < sizes[0] && sizes[0] * 3 < sizes[1],
                 qPrintable(QStringLiteral("%1 %2").arg(sizes[0]).arg(sizes[1])));
    }

    // Each fault is reported in step order, says its cause in words the user knows, leaves
    // nothing behind, and the next location is captured as usual (unless the work folder itself
    // is missing).
    void faults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<Reports>("reports");
        QTest::addColumn<QSize>("picture"); // of the faulty location's JPG; none when invalid
        QTest::addColumn<int>("line");      // the report whose description is checked
        QTest::addColumn<QString>("cause"); // the start of that description (OUT: the output folder)
        const Reports noImage{146, 174, 176}, badImage{174, 176};
        const auto page = [](const char* fault, const char* cause) {
            QTest::addRow("page %s", fault)
                << QString::fromLatin1(fault) << Reports{146, 174, 176} << QSize() << 146
                << QStringLiteral("The map page for \"x fault-%1\" %2")
                       .arg(QLatin1String(fault), QLatin1String(cause));
        };
        page("stall", "could not be fetched: no answer came for 0.6 seconds");
        page("drip", "could not be fetched: the answer was not complete after 2 seconds");
        page("404", "could not be fetched: the server answered 404 Not Found");
        page("500", "could not be fetched: the server answered 500 Internal Server Error");
        page("redirect-loop", "could not be fetched: more than 10 redirects");
        page("redirect-file", "could not be fetched: redirected to \"file:///etc/passwd\"");
        page("redirect-data", "could not be fetched: redirected to \"data:");
        page("endless", "could not be fetched: the answer is larger than 1 MiB");
        for (const char* fault : {"quoted", "file-ref", "data-ref"})
            page(fault, "shows no map image");
        QTest::newRow("page lf") << "lf" << Reports{} << QSize(640, 640) << 0 << "";
        QTest::newRow("page twolines") << "twolines" << Reports{} << QSize(320, 240) << 0 << "";
        const auto image = [&](const char* fault, const char* cause) {
            QTest::addRow("image %s", fault)
                << "image-" + QString::fromLatin1(fault) << noImage << QSize() << 146
                << QStringLiteral("The map image for \"x fault-image-%1\" could not be fetched: %2")
                       .arg(QLatin1String(fault), QLatin1String(cause));
        };
        image("stall", "no answer came");
        image("drip", "the answer was not complete");
        image("404", "the server answered 404 Not Found");
        image("500", "the server answered 500 Internal Server Error");
        image("redirect-loop", "more than 10 redirects");
        image("redirect-file", "redirected to \"file:");
        image("redirect-data", "redirected to \"data:");
        image("endless", "the answer is larger than 1 MiB");
        image("truncated", "");
        for (const char* fault : {"halfgif", "empty", "huge", "html"})
            QTest::addRow("image %s", fault)
                << "image-" + QString::fromLatin1(fault) << badImage << QSize() << 0 << "";
        // Faults of our own side.
        QTest::newRow("zoom not a number")
            << "zoom" << Reports{142, 146, 162, 168, 170, 174, 176} << QSize() << 146
            << "The map image for \"x\" has no address, since the zoom could not be read";
        QTest::newRow("no work folder")
            << "temp" << Reports{106, 146, 174, 176, 146, 174, 176} << QSize() << 146
            << "The map page for \"x\" could not be fetched: the work folder to keep it in could not be made";
        QTest::newRow("file name too long") << "name" << Reports{168, 170, 174, 176} << QSize() << 0 << "";
        // Cut at the NUL, the name would be the user's file "victim" beside the results.
        QTest::newRow("NUL in the name")
            << "nul" << Reports{168, 170, 174, 176} << QSize() << 168
            << QStringLiteral("Cannot create \"OUT/victim\u2400_1.gif\": a file name cannot "
                              "hold a control character (code 0)");
    }
    void faults()
    {
        QFETCH(QString, fault);
        QFETCH(QSize, picture);
        QFETCH(int, line);
        QFETCH(QString, cause);
        QString location = QStringLiteral("x fault-") + fault;
        int yields = 0;
        if (fault == u"zoom")
            app->fake.window.onYield = [&] {
                // Past the box's own correction, as a text the box could not hold for long.
                const QSignalBlocker quiet(app->form.Text2);
                app->form.Text2->setText(++yields <= 6 ? "abc" : "1");
            };
        if (fault == u"temp")
            app->fake.shell.variables.insert(QStringLiteral("TEMP"),
                                             app->temp.filePath(QStringLiteral("gone")));
        if (fault == u"zoom" || fault == u"temp")
            location = QStringLiteral("x");
        if (fault == u"name")
            location = QString(300, u'x');
        const QString victim = app->out.filePath(QStringLiteral("victim"));
        if (fault == u"nul") {
            location = QStringLiteral("victim") + QChar(0);
            QFile file(victim);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("the user's own") == 14);
        }
        const QString cwd = QDir::currentPath();
        QDir::setCurrent(app->out.path()); // where a name without its stem would land
        QElapsedTimer clock;
        clock.start();
        // Second, the faulty location's page and image are asked ahead while the first is converted;
        // what comes of it must read as if asked in turn. The zoom and work folder rows need it first.
        const QString good = QStringLiteral("good");
        run(fault == u"zoom" || fault == u"temp" ? QStringList{location, good} : QStringList{good, location});
        QDir::setCurrent(cwd);
        QVERIFY2(clock.elapsed() < 10'000, qPrintable(QString::number(clock.elapsed())));
        QTEST(reports(), "reports");
        if (line != 0)
            QVERIFY2(said(line).startsWith(cause.replace(QStringLiteral("OUT"), app->out.path())),
                     qPrintable(said(line)));
        const QString faulty = location + QStringLiteral("_1.jpg");
        QStringList expected;
        if (fault != u"temp")
            expected << QStringLiteral("good_1.jpg");
        if (picture.isValid())
            expected << faulty;
        if (fault == u"nul") {
            expected << QStringLiteral("victim");
            QCOMPARE(contents(victim), QByteArray("the user's own"));
        }
        QCOMPARE(files(app->out.path()), expected);
        if (fault != u"temp")
            QCOMPARE(pictureSize(QStringLiteral("good_1.jpg")), QSize(640, 640));
        if (picture.isValid())
            QCOMPARE(pictureSize(faulty), picture);
    }

    // Links planted at the run's file names, pointing out of the output folder: each is replaced
    // by the run's own file, and what it points to stays as it was (or absent).
    void plantedLinks_data()
    {
        QTest::addColumn<QStringList>("links");
        QTest::addColumn<bool>("dangling");
        for (const char* name : {"X_1.gif", "X_1.bmp", "X_1.jpg"})
            QTest::addRow("at %s", name) << QStringList{QString::fromLatin1(name)} << false;
        QTest::newRow("at all three") << QStringList{"X_1.bmp", "X_1.gif", "X_1.jpg"} << false;
        QTest::newRow("dangling, at all three") << QStringList{"X_1.bmp", "X_1.gif", "X_1.jpg"} << true;
    }
    void plantedLinks()
    {
        QFETCH(QStringList, links);
        QFETCH(bool, dangling);
        QTemporaryDir elsewhere;
        for (const QString& name : links) {
            const QString target = elsewhere.filePath(QStringLiteral("target ") + name);
            if (!dangling) {
                QFile file(target);
                QVERIFY(file.open(QIODevice::WriteOnly) && file.write(name.toLatin1()) == name.size());
            }
            QVERIFY(QFile::link(target, app->out.filePath(name)));
        }
        const QStringList before = files(elsewhere.path());
        run({QStringLiteral("X")});
        QCOMPARE(reports(), Reports{});
        QCOMPARE(files(app->out.path()), QStringList{QStringLiteral("X_1.jpg")});
        const QFileInfo jpg(app->out.filePath(QStringLiteral("X_1.jpg")));
        QVERIFY(!jpg.isSymLink());
        QFile plain(app->out.filePath(QStringLiteral("plain"))); // the permissions any new file gets
        QVERIFY(plain.open(QIODevice::WriteOnly));
        QCOMPARE(jpg.permissions(), QFileInfo(plain).permissions());
        plain.remove();
        QCOMPARE(pictureSize(QStringLiteral("X_1.jpg")), QSize(640, 640));
        QCOMPARE(files(elsewhere.path()), before);
        for (const QString& name : before)
            QCOMPARE(contents(elsewhere.filePath(name)), name.mid(7).toLatin1());
    }

    // What the window does while the run yields changes nothing the run has not reached yet.
    void windowActsMidRun_data()
    {
        QTest::addColumn<QString>("act");
        QTest::addColumn<QStringList>("locations");
        QTest::addColumn<QStringList>("captured");
        QTest::addColumn<int>("requests");
        QTest::newRow("a second click is ignored")
            << "click" << QStringList{"a", "b"} << QStringList{"a_1.jpg", "b_1.jpg"} << 4;
        QTest::newRow("a shrunk list ends at its new end")
            << "shrink" << QStringList{"c", "d", "e"} << QStringList{"c_1.jpg", "d_1.jpg"} << 4;
        QTest::newRow("emptied, the current location finishes")
            << "empty" << QStringList{"f", "g"} << QStringList{"f_1.jpg"} << 2;
        QTest::newRow("added locations wait for the next run")
            << "grow" << QStringList{"h", "i"} << QStringList{"h_1.jpg", "i_1.jpg"} << 4;
        QTest::newRow("a zoom changed after the next picture was asked ahead")
            << "zoom" << QStringList{"k", "l"} << QStringList{"k_1.jpg", "l_2.jpg"} << 5;
    }
    void windowActsMidRun()
    {
        QFETCH(QString, act);
        QFETCH(QStringList, locations);
        int yields = 0;
        app->fake.window.onYield = [&] {
            ++yields;
            if (act == u"click")
                app->form.PushButton17->click();
            if (act == u"shrink" && app->form.locations().count() == 3)
                app->form.locations().removeAt(3);
            if (act == u"empty" && yields == 2)
                app->form.locations().clear();
            if (act == u"grow" && yields == 1)
                app->form.locations().append(QStringLiteral("j"));
            if (act == u"zoom" && yields == 4)
                app->form.Text2->setText(QStringLiteral("2"));
        };
        const qsizetype before = service.requestTargets().size();
        run(locations);
        QTEST(files(app->out.path()), "captured");
        QTEST(int(service.requestTargets().size() - before), "requests");
        QCOMPARE(reports(), Reports{});
        QCOMPARE(app->fake.window.boxTexts(), QStringList{QStringLiteral("Done.")});
    }

    // Closing ends the program at once: the list is saved, the work files go, no box shows.
    void closeMidRun()
    {
        int yields = 0;
        QStringList during;
        app->fake.window.onYield = [&] {
            if (++yields == 5) { // just before the GIF work file is removed
                during = files(app->out.path());
                Form1Access::close(app->form);
            }
        };
        app->form.locations().appendMany({QStringLiteral("a"), QStringLiteral("b")});
        QVERIFY_THROWS_EXCEPTION(ProgramEnded, app->form.PushButton17_Click());
        QCOMPARE(during, (QStringList{"a_1.bmp", "a_1.gif", "a_1.jpg"}));
        QCOMPARE(files(app->out.path()) + files(app->temp.path()), QStringList{"a_1.jpg"});
        QCOMPARE(app->fake.settings.get(QStringLiteral("Zip Codes")), QStringLiteral("a;b;"));
        QVERIFY(app->fake.window.boxes.empty());
        // The next run is neither taken for a second click nor still hooked to the end.
        app->fake.window.onYield = nullptr;
        app->form.PushButton17->click();
        QCOMPARE(app->fake.window.boxTexts(), QStringList{QStringLiteral("Done.")});
    }
};

QTEST_MAIN(TestEndToEnd)
#include "test_endtoend.moc"
