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

    // Locations of every length, removed in numbers that make the list pack what is left
    // afresh, then appended to again: every text stays exactly as it was.
    void removalsAndAppendsKeepEveryText()
    {
        LocationList list;
        QStringList expected;
        auto text = [](int i) {
            return i % 5000 == 7
                       ? QString(70'000 + i % 3, QChar(u'a' + i % 26)) // longer than a shared block takes
                   : i % 10 == 0 ? QString()
                                 : QStringLiteral("Location %1 MA").arg(i);
        };
        for (int i = 0; i < 100'000; ++i) {
            expected << text(i);
            if (i % 3 == 0)
                list.append(expected.last());
            else
                list.appendMany({expected.last()});
        }
        for (int i = 0; i < 70'000; ++i) {
            list.removeAt(list.count());
            expected.removeLast();
        }
        list.removeAt(2);
        expected.removeAt(1);
        for (int i = 0; i < 30'000; ++i) {
            expected << text(i + 1);
            list.append(expected.last());
        }
        QCOMPARE(list.count(), expected.size());
        for (int i = 0; i < expected.size(); ++i)
            if (list.locationAt(i + 1) != expected[i])
                QFAIL(qPrintable(QStringLiteral("location %1 differs").arg(i + 1)));
        list.clear();
        list.append(QStringLiteral("after clearing"));
        QCOMPARE(list.locationAt(1), QStringLiteral("after clearing"));
    }
};

QTEST_GUILESS_MAIN(TestLocationList)
#include "test_locationlist.moc"
