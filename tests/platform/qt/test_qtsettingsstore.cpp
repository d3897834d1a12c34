#include "platform/PlatformError.h"
#include "platform/qt/QtSettingsStore.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

// The real store in a configuration folder of the test's own: the user's settings are never
// touched. Values are checked as a later run finds them on disk.
class TestQtSettingsStore : public QObject
{
    Q_OBJECT

    QTemporaryDir config;
    QtSettingsStore store;

    static void useConfigFolder(const QString& path)
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, path);
    }
    void storeAndCheck(const QString& key, const QString& text)
    {
        store.store(QStringLiteral("Tamberlyn"), QStringLiteral("Orrowdale"), key, text);
        // A copy under another name is read afresh from disk, not from Qt's cache.
        const QString copy = config.filePath(QStringLiteral("copy.ini"));
        QFile::remove(copy);
        QVERIFY(QFile::copy(QtSettingsStore::location(QStringLiteral("Tamberlyn")), copy));
        const QVariant disk = QSettings(copy, QSettings::IniFormat).value(QStringLiteral("Orrowdale/") + key);
        QCOMPARE(disk.typeId(), int(QMetaType::QString));
        QCOMPARE(disk.toString(), text);
    }

private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        useConfigFolder(config.path());
        QCOMPARE(QtSettingsStore::location(QStringLiteral("Tamberlyn")),
                 config.filePath(QStringLiteral("Tamberlyn.conf")));
    }

    void anyTextRoundTrips_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("separators, blanks around") << QStringLiteral(" a;b,c=d \"C:\\Maps\\\" ");
        QTest::newRow("non-ASCII") << QStringLiteral("Zürich;Łódź;東京;😀");
        QTest::newRow("leading @") << QStringLiteral("@Variant(x)");
        QTest::newRow("line breaks, group and comment marks") << QStringLiteral("[Orrowdale]\r\n#x\t;y");
        QTest::newRow("empty") << QString(QLatin1String(""));
        QString big;
        for (int i = 0; i < 150'000; ++i)
            big += QStringLiteral("Location %1 ä, \"x\";").arg(i);
        QTest::newRow("several megabytes") << big;
    }
    void anyTextRoundTrips()
    {
        QFETCH(QString, text);
        storeAndCheck(QStringLiteral("Zip Codes"), text);
        storeAndCheck(QStringLiteral("Zoom"), QStringLiteral("3")); // rewrites the whole file
        storeAndCheck(QStringLiteral("Zip Codes"), text);
    }

    void emptyTextIsNotAMissingKey()
    {
        const QString app = QStringLiteral("Tamberlyn"), section = QStringLiteral("Orrowdale");
        QCOMPARE(store.read(app, section, QStringLiteral("Never Stored"), QStringLiteral("85")),
                 QStringLiteral("85"));
        store.store(app, section, QStringLiteral("Output Folder"), QString());
        QCOMPARE(store.read(app, section, QStringLiteral("Output Folder"), QStringLiteral("/desk/")),
                 QString());
    }

    void failedWriteIsAFailure()
    {
        QTemporaryDir other;
        QVERIFY(QDir(other.path()).mkdir(QStringLiteral("Tamberlyn.conf"))); // a folder where the file goes
        useConfigFolder(other.path());
        QVERIFY_THROWS_EXCEPTION(PlatformError,
                                 store.store(QStringLiteral("Tamberlyn"), QStringLiteral("Orrowdale"),
                                             QStringLiteral("Slider1"), QStringLiteral("60")));
        useConfigFolder(config.path());
    }
};

QTEST_GUILESS_MAIN(TestQtSettingsStore)
#include "test_qtsettingsstore.moc"
