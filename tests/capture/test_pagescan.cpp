#include "capture/PageScan.h"
#include "platform/PlatformError.h"

#include <QBuffer>
#include <QtTest>

// Splitting a page into lines, and cutting the image address out of one.
class TestPageScan : public QObject
{
    Q_OBJECT

    // A device whose every read fails, as a file on a vanished network share does.
    class BrokenDevice : public QIODevice
    {
    protected:
        qint64 readData(char*, qint64) override { return -1; }
        qint64 writeData(const char*, qint64) override { return -1; }
    };

private slots:
    void lines_data()
    {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QList<QByteArray>>("lines");
        QTest::newRow("empty") << QByteArray() << QList<QByteArray>{};
        QTest::newRow("no ending") << QByteArray("a") << QList<QByteArray>{"a"};
        QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << QList<QByteArray>{"a", "b"};
        QTest::newRow("CR") << QByteArray("a\rb") << QList<QByteArray>{"a", "b"};
        QTest::newRow("LF stays") << QByteArray("a\nb\n") << QList<QByteArray>{"a\nb\n"};
        QTest::newRow("LF CR") << QByteArray("a\n\rb") << QList<QByteArray>{"a\n", "b"};
        QTest::newRow("empty lines") << QByteArray("\r\n\r\r\n") << QList<QByteArray>{"", "", ""};
        QTest::newRow("only LF after CR is skipped")
            << QByteArray("a\r\n\nb") << QList<QByteArray>{"a", "\nb"};
        QTest::newRow("bytes as they are")
            << QByteArray("\xe9\0z", 3) << QList<QByteArray>{QByteArray("\xe9\0z", 3)};
        // Pages are read in pieces of 1 MiB: an ending split across two must still be one.
        const QByteArray longLine((1 << 20) - 1, 'x');
        QTest::newRow("CR LF across pieces") << longLine + "\r\ny" << QList<QByteArray>{longLine, "y"};
        QTest::newRow("CR ends a piece") << longLine + "\r" << QList<QByteArray>{longLine};
        QTest::newRow("line longer than a piece")
            << QByteArray(3 << 20, 'y') + "\rz" << QList<QByteArray>{QByteArray(3 << 20, 'y'), "z"};
    }
    void lines()
    {
        QFETCH(QByteArray, page);
        QFETCH(QList<QByteArray>, lines);
        QBuffer buffer(&page);
        buffer.open(QIODevice::ReadOnly);
        PageLines reader(buffer);
        QList<QByteArray> read;
        while (!reader.atEnd())
            read << reader.next().toByteArray();
        QCOMPARE(read.size(), lines.size());
        QCOMPARE(read, lines);
        QVERIFY(reader.atEnd());
    }

    void unreadablePage()
    {
        BrokenDevice device;
        device.open(QIODevice::ReadOnly);
        PageLines reader(device);
        QVERIFY_THROWS_EXCEPTION(PlatformError, reader.atEnd());
    }

    void cut_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("reference"); // null: can't be cut
        QTest::newRow("blank before style")
            << QByteArray("img src=B/mapdata?a=1&b=2 style=x") << "B/mapdata?a=1&b=2";
        QTest::newRow("any character before style")
            << QByteArray("img src=B/mapdata?a\"style=x") << "B/mapdata?a";
        QTest::newRow("first style after start")
            << QByteArray("style= img src=B/mapdata?a style= style=") << "B/mapdata?a";
        QTest::newRow("style right after the start") << QByteArray("img src=Bstyle=") << "";
        QTest::newRow("style at the start") << QByteArray("img src=style=") << QString();
        QTest::newRow("no style") << QByteArray("img src=B/mapdata?a") << QString();
        QTest::newRow("style only before") << QByteArray("style= img src=B/mapdata?a") << QString();
    }
    void cut()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, reference);
        const qsizetype start = FindPattern(line, "img src=") + 8;
        const qsizetype styleAt = FindStyle(line, start);
        if (reference.isNull())
            QVERIFY_THROWS_EXCEPTION(PlatformError, CutImageReference(line, start, styleAt));
        else
            QCOMPARE(CutImageReference(line, start, styleAt), reference);
    }
};

QTEST_MAIN(TestPageScan)
#include "test_pagescan.moc"
