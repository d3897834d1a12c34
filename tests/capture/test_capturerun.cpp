#include "app/Form1.h"
#include "capture/PageScan.h"
#include "locations/LocationList.h"
#include "platform/OrdinaryUser.h"
#include "support/TestPlatform.h"

#include <QBuffer>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using Lines = QList<QByteArray>;
using Reports = QList<int>;

// The statements the run's failure reports name, in order.
Reports Reported(const TestPlatform& fake)
{
    Reports reports;
    static const QRegularExpression at(QStringLiteral("PushButton17_Click at line (\\d+)\r\r"));
    for (const auto& box : fake.window.boxes)
        if (box.title == u"Application Error")
            reports << at.match(box.text).captured(1).toInt();
    return reports;
}

// Reading the fetched page and finding the image in it, with pages the map service can't serve.
class TestCaptureRun : public QObject
{
    Q_OBJECT

private slots:
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
        QBuffer buffer(&page);
        buffer.open(QIODevice::ReadOnly);
        PageLines reader(buffer);
        Lines read;
        while (!reader.atEnd())
            read << reader.next().toByteArray();
        QTEST(read, "lines");
    }

    void scan_data()
    {
        QTest::addColumn<QByteArray>("page");  // "=B" stands for "=" and the base URL
        QTest::addColumn<QString>("imageUrl"); // empty when no image is asked for
        QTest::addColumn<Reports>("reports");
        const Reports noImage{146};
        QTest::newRow("trailing blanks dropped")
            << QByteArray("<img src=B/mapdata?1   style=x>") << "B/mapdata?1" << Reports{};
        QTest::newRow("two before style= whatever stands there")
            << QByteArray("<img src=B/mapdata?12\"style=x>") << "B/mapdata?12" << Reports{};
        QTest::newRow("empty reference") << QByteArray("img src=Bstyle=") << "" << noImage;
        QTest::newRow("uncut line keeps the earlier one")
            << QByteArray("img src=B/mapdata?1 style=\r\nimg src=B/mapdata?2\r\n") << "B/mapdata?1"
            << Reports{138};
        QTest::newRow("every uncut line reported")
            << QByteArray("img src=B/mapdata?1\r\nimg src=B/mapdata?2") << "" << Reports{138, 138, 146};
    }
    void scan()
    {
        QFETCH(QByteArray, page);
        QFETCH(QString, imageUrl);
        const QString base = QStringLiteral("http://maps.test");
        page.replace("=B", "=" + base.toLatin1());
        const QStringList images = imageUrl.isEmpty()
                                       ? QStringList{}
                                       : QStringList{imageUrl.replace(u'B', base) + QStringLiteral("&zl=0")};
        TestPlatform fake;
        QTemporaryDir out, temp;
        fake.shell.variables.insert(QStringLiteral("TEMP"), temp.path());
        fake.network.onFetch = [&](const QString& url) {
            if (url.contains(QStringLiteral("/maps?")))
                return page;
            if (images.contains(url) && url.startsWith(base))
                return QByteArray("GIF89a");
            throw PlatformError(QStringLiteral("Cannot reach %1").arg(url));
        };
        Form1 form(fake.platform);
        form.setMapBaseUrl(base);
        form.Text1->setText(out.path() + u'/');
        form.locations().append(QStringLiteral("x"));
        form.PushButton17->click();
        QCOMPARE(fake.network.requests.mid(1), images);
        QTEST(Reported(fake), "reports");
    }

    // A file at a work file's name that this run did not write (an earlier run's, or one the
    // user made read-only, which stays) is never converted; the statement that needed it says so.
    void filesNotWrittenForTheLocation_data()
    {
        QTest::addColumn<QString>("existing"); // x_1.<existing>, read-only unless a bitmap
        QTest::addColumn<Reports>("reports");
        QTest::newRow("earlier run's bitmap, failed conversion") << "bmp" << Reports{174, 176};
        QTest::newRow("read-only GIF") << "gif" << Reports{172, 174, 176};
    }
    void filesNotWrittenForTheLocation()
    {
        if (RanAsNobody())
            return;
        QFETCH(QString, existing);
        TestPlatform fake;
        QTemporaryDir out, temp;
        fake.shell.variables.insert(QStringLiteral("TEMP"), temp.path());
        fake.network.onFetch = [](const QString& url) {
            return QByteArray(
                url.contains(QStringLiteral("mapdata")) ? "GIF89a" : "<img src=http://m/mapdata?1 style=x>");
        };
        fake.images.onToBitmap = [](const QString&, const QString&) {
            throw PlatformError(QStringLiteral("Cannot read the image"));
        };
        QFile user(out.filePath(QStringLiteral("x_1.") + existing));
        QVERIFY(user.open(QIODevice::WriteOnly) && user.write("the user's") == 10);
        user.close();
        QVERIFY(existing != u"gif" || user.setPermissions(QFileDevice::ReadOwner));
        Form1 form(fake.platform);
        form.setMapBaseUrl(QStringLiteral("http://m"));
        form.Text1->setText(out.path() + u'/');
        form.locations().append(QStringLiteral("x"));
        form.PushButton17->click();
        QTEST(Reported(fake), "reports");
        // Read-only, it is the user's; writable, it was an earlier run's work file and goes.
        QCOMPARE(user.open(QIODevice::ReadOnly) ? user.readAll() : QByteArray(),
                 existing == u"gif" ? QByteArray("the user's") : QByteArray());
    }
};

QTEST_MAIN(TestCaptureRun)
#include "test_capturerun.moc"
