#include "locations/LocationList.h"
#include "platform/PlatformError.h"

#include <QSignalSpy>
#include <QtTest>

// The list's operations, positions counted from 1.
class TestLocationList : public QObject
{
    Q_OBJECT

private slots:
    void keepsOrderAndDuplicatesExactly()
    {
        LocationList list;
        const QStringList input = {QStringLiteral("  Haverhill MA  "), QString(), QStringLiteral("a;b"),
                                   QStringLiteral("  Haverhill MA  "), QStringLiteral("Zürich \t")};
        for (const QString& location : input)
            list.append(location);
        QCOMPARE(list.count(), 5);
        for (int i = 0; i < input.size(); ++i)
            QCOMPARE(list.locationAt(i + 1), input[i]);
        QCOMPARE(list.data(list.index(0), Qt::DisplayRole).toString(), input[0]);
    }

    void hugeLocationKeptWholeButShownCut()
    {
        LocationList list;
        const QString huge(100'000, u'x');
        list.appendMany({huge, QStringLiteral("short")});
        QCOMPARE(list.locationAt(1), huge);
        QCOMPARE(list.data(list.index(0), Qt::DisplayRole).toString(), huge.left(4096));
        QCOMPARE(list.data(list.index(1), Qt::DisplayRole).toString(), QStringLiteral("short"));
    }

    void positionsOutsideTheListFail()
    {
        LocationList list;
        list.append(QStringLiteral("x"));
        QVERIFY_THROWS_EXCEPTION(PlatformError, list.locationAt(0));
        QVERIFY_THROWS_EXCEPTION(PlatformError, list.locationAt(2));
        list.removeAt(5); // quietly nothing
        QCOMPARE(list.count(), 1);
    }

    void removeMovesTheRestUp()
    {
        LocationList list;
        list.appendMany({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
        list.removeAt(2);
        QCOMPARE(list.count(), 2);
        QCOMPARE(list.locationAt(2), QStringLiteral("c"));
    }

    void bulkAppendNotifiesOnce()
    {
        LocationList list;
        list.append(QStringLiteral("first"));
        QSignalSpy inserted(&list, &QAbstractItemModel::rowsInserted);
        list.appendMany({QStringLiteral("b"), QStringLiteral("c")});
        list.appendMany({});
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(inserted.first().at(1).toInt(), 1);
        QCOMPARE(inserted.first().at(2).toInt(), 2);
        QCOMPARE(list.count(), 3);
        list.clear();
        QCOMPARE(list.count(), 0);
        QCOMPARE(list.rowCount(), 0);
    }

    void header()
    {
        LocationList list;
        list.setHeaderText(QStringLiteral("Google Map Location(s)"));
        QCOMPARE(list.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QStringLiteral("Google Map Location(s)"));
    }
};

QTEST_GUILESS_MAIN(TestLocationList)
#include "test_locationlist.moc"
