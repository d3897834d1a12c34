#include "platform/PlatformError.h"
#include "platform/qt/QtSettingsStore.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

// The real store, in a configuration folder of the test's own: the user's settings are never
// read or written.
class TestQtSettingsStore : public QObject
{
    Q_OBJECT

    QTemporaryDir config;
    int copies = 0;

    static QString app() { return QStringLiteral("Tamberlyn"); }
    static QString section() { return QStringLiteral("Orrowdale"); }

    void useConfigFolder(const QString& path)
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, path);
    }

    // What a later run of the program finds on disk: the file as written, read afresh.
    QVariant onDisk(const QString& key)
    {
        const QString copy = config.filePath(QStringLiteral("copy-%1.ini").arg(++copies));
        if (!QFile::copy(QtSettingsStore::location(app()), copy))
            return {};
        return QSettings(copy, QSettings::IniFormat).value(section() + QLatin1Char('/') + key);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(config.isValid());
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        useConfigFolder(config.path());
        QCOMPARE(QtSettingsStore::location(app()), config.filePath(QStringLiteral("Tamberlyn.conf")));
    }

    void anyTextRoundTrips_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("separators") << QStringLiteral("a;b,c=d");
        QTest::newRow("quotes and backslashes") << QStringLiteral("\"C:\\Maps\\\" \\\\x");
        QTest::newRow("blanks around") << QStringLiteral("  Londonderry UK  ");
        QTest::newRow("only a blank") << QStringLiteral(" ");
        QTest::newRow("non-ASCII") << QStringLiteral("Zürich;Łódź;東京;😀");
        QTest::newRow("leading @") << QStringLiteral("@Variant(x)");
        QTest::newRow("leading @@") << QStringLiteral("@@home");
        QTest::newRow("line breaks and tabs") << QStringLiteral("a\r\nb\tc\n");
        QTest::newRow("group and comment marks") << QStringLiteral("[Orrowdale]\n#x ;y");
        QTest::newRow("empty") << QString(QLatin1String(""));
    }
    void anyTextRoundTrips()
    {
        QFETCH(QString, text);
        QtSettingsStore store;
        store.store(app(), section(), QStringLiteral("Zip Codes"), text);
        QCOMPARE(store.read(app(), section(), QStringLiteral("Zip Codes"), QStringLiteral("default")), text);
        const QVariant disk = onDisk(QStringLiteral("Zip Codes"));
        QCOMPARE(disk.typeId(), int(QMetaType::QString));
        QCOMPARE(disk.toString(), text);
    }

    void emptyTextIsNotAMissingKey()
    {
        QtSettingsStore store;
        QCOMPARE(store.read(app(), section(), QStringLiteral("Never Stored"), QStringLiteral("85")),
                 QStringLiteral("85"));
        store.store(app(), section(), QStringLiteral("Output Folder"), QString());
        QCOMPARE(store.read(app(), section(), QStringLiteral("Output Folder"), QStringLiteral("/desk/")),
                 QString());
        // A new store object, as at the next start.
        QCOMPARE(QtSettingsStore().read(app(), section(), QStringLiteral("Output Folder"),
                                        QStringLiteral("/desk/")),
                 QString());
    }

    void severalMegabytes()
    {
        QString big;
        for (int i = 0; i < 150'000; ++i)
            big += QStringLiteral("Location %1 ä, \"x\";").arg(i);
        QVERIFY(big.size() > 3'000'000);
        QtSettingsStore store;
        store.store(app(), section(), QStringLiteral("Zip Codes"), big);
        store.store(app(), section(), QStringLiteral("Zoom"), QStringLiteral("3")); // rewrites the file
        QCOMPARE(onDisk(QStringLiteral("Zip Codes")).toString(), big);
        QCOMPARE(onDisk(QStringLiteral("Zoom")).toString(), QStringLiteral("3"));
    }

    void failedWriteIsAFailure_data()
    {
        QTest::addColumn<QString>("blocker"); // what stands where the store needs a folder or file
        QTest::newRow("folder path runs through a file") << QStringLiteral("file");
        QTest::newRow("a folder where the file goes") << QStringLiteral("folder");
    }
    void failedWriteIsAFailure()
    {
        QFETCH(QString, blocker);
        QTemporaryDir other;
        QString folder = other.path();
        if (blocker == QStringLiteral("file")) {
            QFile file(other.filePath(QStringLiteral("plain")));
            QVERIFY(file.open(QIODevice::WriteOnly));
            folder = file.fileName() + QStringLiteral("/config");
        } else {
            QVERIFY(QDir(folder).mkdir(QStringLiteral("Tamberlyn.conf")));
        }
        useConfigFolder(folder);
        QtSettingsStore store;
        bool failed = false;
        try {
            store.store(app(), section(), QStringLiteral("Slider1"), QStringLiteral("60"));
        } catch (const PlatformError& e) {
            failed = true;
            QVERIFY2(e.description().contains(QStringLiteral("\"Slider1\" could not be saved")),
                     qPrintable(e.description()));
        }
        useConfigFolder(config.path());
        QVERIFY(failed);
    }
};

QTEST_GUILESS_MAIN(TestQtSettingsStore)
#include "test_qtsettingsstore.moc"
