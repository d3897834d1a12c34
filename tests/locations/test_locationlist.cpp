#include "locations/LocationList.h"
#include "platform/PlatformError.h"

#include <QSignalSpy>
#include <QtTest>

// The list's operations, positions counted from 1.
class TestLocationList : public QObject
{
    Q_OBJECT

private slots:
    void operations()
    {
        LocationList list;
        const QString huge(100'000, u'x');
        const QStringList input = {QStringLiteral("  Haverhill MA  "), QString(), QStringLiteral("a;b"),
                                   QStringLiteral("  Haverhill MA  "), huge};
        list.append(input[0]);
        QSignalSpy inserted(&list, &QAbstractItemModel::rowsInserted);
        list.appendMany(input.mid(1));
        list.appendMany({});
        QCOMPARE(inserted.size(), 1); // one notice for the lot
        for (int i = 0; i < input.size(); ++i)
            QCOMPARE(list.locationAt(i + 1), input[i]); // kept exactly, duplicates too
        QCOMPARE(list.data(list.index(4), Qt::DisplayRole).toString(), huge.left(4096)); // shown cut

        QVERIFY_THROWS_EXCEPTION(PlatformError, list.locationAt(0));
        QVERIFY_THROWS_EXCEPTION(PlatformError, list.locationAt(6));
        list.removeAt(9); // quietly nothing
        list.removeAt(1);
        QCOMPARE(list.count(), 4);
        QCOMPARE(list.locationAt(3), input[0]); // the rest moved up
        list.clear();
        QCOMPARE(list.rowCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestLocationList)
#include "test_locationlist.moc"
