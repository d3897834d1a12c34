#include "app/Form1.h"
#include "locations/LocationList.h"
#include "platform/qt/QtImageFormat.h"
#include "platform/qt/QtNetwork.h"
#include "support/MapServiceProcess.h"
#include "support/TestPlatform.h"

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
// service and every fault it can play.
class TestEndToEnd : public QObject
{
    Q_OBJECT

    // Faults end on the service's side long after ours, so ours are the ones that show.
    MapServiceProcess service{{"--stall-ms", "5000", "--drip-ms", "100", "--endless-bytes", "4000000"}};
    QtNetwork network;
    QtImageFormat images;
    std::unique_ptr<TestPlatform> fake;
    std::unique_ptr<Platform> platform;
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
    QString result(const QString& name) const { return out->filePath(name); }
    void run(const QStringList& locations)
    {
        for (const QString& l : locations)
            form->locations().append(l);
        form->PushButton17->click();
        QCOMPARE(fake->window.boxTexts().last(), QStringLiteral("Done."));
        QCOMPARE(files(temp->path()), QStringList{}); // the private work folder is gone
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
        fake = std::make_unique<TestPlatform>();
        platform = std::make_unique<Platform>(
            Platform{fake->window, fake->settings, network, images, fake->dialogs, fake->skin, fake->shell});
        form = std::make_unique<Form1>(*platform);
        form->setMapBaseUrl(service.baseUrl());
        out = std::make_unique<QTemporaryDir>();
        temp = std::make_unique<QTemporaryDir>();
        fake->shell.variables.insert(QStringLiteral("TEMP"), temp->path());
        form->Text1->setText(out->path() + u'/');
        form->Text2->setText(QStringLiteral("1"));
    }
    void cleanup() { form.reset(); }

    // The samples, watched at every yield: six a location, the bar at i/n from the start of
    // location i, a work folder for the user alone.
    void samples()
    {
        QList<double> progress;
        QStringList captions, workFolders;
        fake->window.onYield = [&] {
            progress << form->ProgressBar1->percent();
            captions << form->ProgressBar1->text();
            for (const QFileInfo& f : QDir(temp->path()).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
                workFolders << QString::number(int(f.permissions()), 16);
        };
        form->PushButton5->click();
        run({});
        QCOMPARE(reports(), Reports{});
        const QStringList jpgs{"Haverhill MA_1.jpg", "Londonderry NH USA_1.jpg", "Londonderry UK_1.jpg"};
        QCOMPARE(files(out->path()), jpgs);
        for (const QString& jpg : jpgs)
            QCOMPARE(QImage(result(jpg)).size(), QSize(640, 640));
        QCOMPARE(progress, (QList<double>{0, 33, 33, 33, 33, 33, 100.0 / 3, 66, 66, 66, 66, 66, 200.0 / 3,
                                          100, 100, 100, 100, 100}));
        QCOMPARE(captions.last(), QStringLiteral("Processing: Londonderry UK"));
        QCOMPARE(workFolders, QStringList(18, QStringLiteral("7700")));
        QCOMPARE(form->ProgressBar1->percent(), 0.0);
        QCOMPARE(form->ProgressBar1->text(), QStringLiteral("Progress Bar"));
        QCOMPARE(fake->window.pointers,
                 (std::vector<PointerShape>{PointerShape::Busy, PointerShape::Ordinary}));
    }

    void namesAndZoom_data()
    {
        QTest::addColumn<QStringList>("locations");
        QTest::addColumn<QString>("zoom");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("query"); // the search as the service must receive it
        QTest::addColumn<QString>("zl");
        QTest::newRow("replaced") << QStringList{"Route 1/Main St?"} << "1"
                                  << "Route 1 Main St _1.jpg"
                                  << "Route%201%2FMain%20St%3F"
                                  << "0";
        QTest::newRow("twice, trimmed") << QStringList{"Haverhill MA", " Haverhill MA "} << "5"
                                        << "Haverhill MA_5.jpg"
                                        << "Haverhill%20MA"
                                        << "4";
        QTest::newRow("query characters") << QStringList{"a#b&c+d e"} << "1"
                                          << "a#b&c+d e_1.jpg"
                                          << "a%23b%26c%2Bd%20e"
                                          << "0";
        QTest::newRow("all six, others stay") << QStringList{"a/b*c?d<e>f|g:\\\"."} << "18"
                                              << "a b c d e f g:\\\"._18.jpg"
                                              << "a%2Fb%2Ac%3Fd%3Ce%3Ef%7Cg%3A%5C%22."
                                              << "17";
        QTest::newRow("empty") << QStringList{""} << "1"
                               << "_1.jpg"
                               << ""
                               << "0";
        QTest::newRow("half to even") << QStringList{"x"} << "2.5"
                                      << "x_2.jpg"
                                      << "x"
                                      << "1";
    }
    void namesAndZoom()
    {
        QFETCH(QStringList, locations);
        QFETCH(QString, zoom);
        QFETCH(QString, query);
        QFETCH(QString, zl);
        form->Text2->setText(zoom.left(1)); // past the box's own rounding
        form->Text2->setText(zoom);
        const qsizetype before = service.requestTargets().size();
        run(locations);
        QCOMPARE(reports(), Reports{});
        QTEST(files(out->path()).join(u'|'), "file");
        const QStringList pair{"/maps?f=q&source=s_q&output=html&hl=en&q=" + query + "&zoom=1",
                               "/mapdata?oi=map&q=" + query + "&w=640&h=640&zl=" + zl};
        QCOMPARE(service.requestTargets().mid(before), locations.size() == 1 ? pair : pair + pair);
    }

    void quality()
    {
        qint64 sizes[2];
        for (int i : {0, 1}) {
            form->Slider1->setValue(i == 0 ? 1 : 100);
            run({QStringLiteral("Haverhill MA")});
            sizes[i] = QFileInfo(result(QStringLiteral("Haverhill MA_1.jpg"))).size();
        }
        QVERIFY2(0 < sizes[0] && sizes[0] * 3 < sizes[1],
                 qPrintable(QStringLiteral("%1 %2").arg(sizes[0]).arg(sizes[1])));
    }

    // Each fault is reported in step order, leaves nothing behind, and the next location is
    // captured as usual.
    void faults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<Reports>("reports");
        QTest::addColumn<QSize>("picture"); // of the faulty location's JPG; none when invalid
        const Reports noImage{146, 174, 176}, badImage{174, 176};
        for (const char* fault : {"stall", "drip", "404", "500", "redirect-loop", "redirect-file",
                                  "redirect-data", "endless", "quoted", "file-ref", "data-ref"})
            QTest::addRow("page %s", fault) << QString::fromLatin1(fault) << noImage << QSize();
        QTest::newRow("page lf") << "lf" << Reports{} << QSize(640, 640);
        QTest::newRow("page twolines") << "twolines" << Reports{} << QSize(320, 240);
        for (const char* fault : {"stall", "drip", "404", "500", "redirect-loop", "redirect-file",
                                  "redirect-data", "endless", "truncated"})
            QTest::addRow("image %s", fault)
                << QStringLiteral("image-") + QString::fromLatin1(fault) << noImage << QSize();
        for (const char* fault : {"halfgif", "empty", "huge", "html"})
            QTest::addRow("image %s", fault)
                << QStringLiteral("image-") + QString::fromLatin1(fault) << badImage << QSize();
    }
    void faults()
    {
        QFETCH(QString, fault);
        QFETCH(QSize, picture);
        const QString location = QStringLiteral("x fault-") + fault;
        QElapsedTimer clock;
        clock.start();
        run({location, QStringLiteral("good")});
        QVERIFY2(clock.elapsed() < 10'000, qPrintable(QString::number(clock.elapsed())));
        QTEST(reports(), "reports");
        const QString faulty = location + QStringLiteral("_1.jpg");
        const QStringList expected =
            picture.isValid() ? QStringList{"good_1.jpg", faulty} : QStringList{"good_1.jpg"};
        QCOMPARE(files(out->path()), expected);
        QCOMPARE(QImage(result(QStringLiteral("good_1.jpg"))).size(), QSize(640, 640));
        if (picture.isValid())
            QCOMPARE(QImage(result(faulty)).size(), picture);
    }
};

QTEST_MAIN(TestEndToEnd)
#include "test_endtoend.moc"
