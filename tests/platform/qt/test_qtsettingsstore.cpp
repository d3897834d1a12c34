#include "platform/OrdinaryUser.h"
#include "platform/PlatformError.h"
#include "platform/qt/QtSettingsStore.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

// The real store in a configuration folder of the test's own: the user's settings are never
// touched. Values are checked as a later run finds them on disk.
class TestQtSettingsStore : public QObject
{
    Q_OBJECT

    QTemporaryDir config;
    QTemporaryDir system; // stands for /etc/xdg
    QtSettingsStore store;
    const QString app = QStringLiteral("Tamberlyn"), section = QStringLiteral("Orrowdale");
    const QString list = QStringLiteral("Zip Codes");

    static void useConfigFolder(const QString& path)
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, path);
    }
    QString iniFile() const { return QtSettingsStore::earlierLocation(app); }
    QString listFile() const { return QtSettingsStore::location(app, section, list); }
    // What a later run finds on disk under key; invalid when nothing is there.
    QVariant onDisk(const QString& key) const
    {
        QFile f(QtSettingsStore::location(app, section, key));
        return f.open(QIODevice::ReadOnly) ? QVariant(QString::fromUtf8(f.readAll())) : QVariant();
    }
    // Whether the INI file of an earlier version still holds key, read afresh from disk.
    bool iniHolds(const QString& key) const
    {
        const QString copy = config.filePath(QStringLiteral("copy.ini"));
        QFile::remove(copy);
        return QFile::copy(iniFile(), copy) &&
               QSettings(copy, QSettings::IniFormat).contains(section + QLatin1Char('/') + key);
    }
    // The INI file as an earlier version left it.
    void writeIni(const QString& key, const QString& value)
    {
        QSettings ini(iniFile(), QSettings::IniFormat);
        ini.setValue(section + QLatin1Char('/') + key, value);
    }
    void forget(const QString& key)
    {
        QSettings(iniFile(), QSettings::IniFormat).remove(section + QLatin1Char('/') + key);
        QFile::remove(QtSettingsStore::location(app, section, key));
    }
    void storeAndCheck(const QString& key, const QString& text)
    {
        store.store(app, section, key, text);
        const QVariant disk = onDisk(key);
        QCOMPARE(disk.typeId(), int(QMetaType::QString));
        QCOMPARE(disk.toString(), text);
        QCOMPARE(QtSettingsStore().read(app, section, key, QStringLiteral("missing")), text);
    }
    static ino_t inode(const QString& path)
    {
        struct stat st
        {
        };
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
    }

private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        useConfigFolder(config.path());
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, system.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::SystemScope, system.path());
        QCOMPARE(iniFile(), config.filePath(QStringLiteral("Tamberlyn.conf")));
        QCOMPARE(QtSettingsStore::location(app), config.filePath(QStringLiteral("Tamberlyn")));
        QCOMPARE(listFile(), config.filePath(QStringLiteral("Tamberlyn/Orrowdale/Zip Codes.txt")));
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
        storeAndCheck(list, text);
        storeAndCheck(QStringLiteral("Zoom"), text);
        storeAndCheck(QStringLiteral("Zoom"), QStringLiteral("3"));
        storeAndCheck(list, text);
    }

    void emptyTextIsNotAMissingKey()
    {
        QCOMPARE(store.read(app, section, QStringLiteral("Never Stored"), QStringLiteral("85")),
                 QStringLiteral("85"));
        store.store(app, section, QStringLiteral("Output Folder"), QString());
        QCOMPARE(store.read(app, section, QStringLiteral("Output Folder"), QStringLiteral("/desk/")),
                 QString());
    }

    // A value in the system-wide file is not the user's: it is not read, and storing the same
    // text puts it in the user's own file.
    void systemWideValuesAreNotTheUsers_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("zoom") << QStringLiteral("Zoom") << QStringLiteral("7");
        QTest::newRow("output folder") << QStringLiteral("Output Folder") << QStringLiteral("/srv/maps/");
        QTest::newRow("list") << QStringLiteral("Zip Codes") << QStringLiteral("a;b;");
    }
    void systemWideValuesAreNotTheUsers()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        forget(key);
        QSettings(system.filePath(QStringLiteral("Tamberlyn.conf")), QSettings::IniFormat)
            .setValue(section + QLatin1Char('/') + key, value);
        QCOMPARE(store.read(app, section, key, QStringLiteral("default")), QStringLiteral("default"));
        store.store(app, section, key, value);
        QCOMPARE(onDisk(key).toString(), value);
        QCOMPARE(store.read(app, section, key, QStringLiteral("default")), value);
    }

    // Storing a box's value leaves the list's file alone; storing what the user's file holds
    // already writes nothing.
    void eachValueHasAFileOfItsOwn()
    {
        QString big;
        for (int i = 0; i < 100'000; ++i)
            big += QStringLiteral("Location %1;").arg(i);
        store.store(app, section, list, big);
        const ino_t written = inode(listFile());
        QVERIFY(written != 0);
        for (const QString& folder : {QStringLiteral("/a/"), QStringLiteral("/ab/"), QStringLiteral("/a/")})
            storeAndCheck(QStringLiteral("Output Folder"), folder);
        const QString folderFile = QtSettingsStore::location(app, section, QStringLiteral("Output Folder"));
        const ino_t folderWritten = inode(folderFile);
        storeAndCheck(QStringLiteral("Output Folder"), QStringLiteral("/a/"));
        QCOMPARE(inode(folderFile), folderWritten);
        QCOMPARE(inode(listFile()), written);
        QCOMPARE(onDisk(list).toString(), big);
        store.store(app, section, list, QStringLiteral("x;"));
        QVERIFY(inode(listFile()) != written); // replaced whole, never written over in place
        QCOMPARE(onDisk(list).toString(), QStringLiteral("x;"));
        for (const QString& name : QDir(QFileInfo(listFile()).path()).entryList(QDir::Files))
            QVERIFY2(name.endsWith(QLatin1String(".txt")), qPrintable(name)); // no half-written leftovers
    }

    // Values an earlier version kept in the INI file come back unchanged and move to files of
    // their own; a value's own file is the newer and an INI value not copied stays. Once moved,
    // they are read even when the INI file (the organisation's, shared) cannot be.
    void earlierValuesAreReadAndMoved_data()
    {
        QTest::addColumn<QString>("inIni");
        QTest::addColumn<QString>("inOwnFile"); // null: no such file
        QTest::addColumn<QString>("expected");
        QTest::newRow("only in the INI file") << QStringLiteral("Londonderry UK;Haverhill MA;") << QString()
                                              << QStringLiteral("Londonderry UK;Haverhill MA;");
        QTest::newRow("stored empty in the INI file")
            << QString(QLatin1String("")) << QString() << QString(QLatin1String(""));
        QTest::newRow("in both") << QStringLiteral("old;") << QStringLiteral("new;")
                                 << QStringLiteral("new;");
    }
    void earlierValuesAreReadAndMoved()
    {
        if (RanAsNobody())
            return;
        QFETCH(QString, inIni);
        QFETCH(QString, inOwnFile);
        QFETCH(QString, expected);
        const QString zoom = QStringLiteral("Zoom");
        forget(list);
        forget(zoom);
        writeIni(list, inIni);
        writeIni(zoom, QStringLiteral("4"));
        if (!inOwnFile.isNull()) {
            QVERIFY(QDir().mkpath(QFileInfo(listFile()).path()));
            QFile f(listFile());
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(inOwnFile.toUtf8()) == inOwnFile.size());
        }
        QCOMPARE(store.read(app, section, list, QStringLiteral("default")), expected);
        QCOMPARE(store.read(app, section, zoom, QStringLiteral("1")), QStringLiteral("4"));
        QCOMPARE(onDisk(list).toString(), expected);
        QCOMPARE(onDisk(zoom).toString(), QStringLiteral("4"));
        QCOMPARE(iniHolds(list), !inOwnFile.isNull());
        QVERIFY(!iniHolds(zoom));
        QFile ini(iniFile());
        QVERIFY(ini.open(QIODevice::Append) && ini.write("\n") == 1 && ini.setPermissions({}));
        QCOMPARE(store.read(app, section, list, QString()), expected);
        QVERIFY(ini.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    }

    // A new value file is the user's alone; a stored value keeps the permissions the user gave
    // its file, and one the user may not write is not replaced.
    void replacingKeepsWhatTheUserMadeOfTheFile()
    {
        if (RanAsNobody())
            return;
        const QByteArray path = QFile::encodeName(listFile());
        struct stat st = {};
        forget(list);
        store.store(app, section, list, QStringLiteral("a;"));
        QVERIFY(::stat(path.constData(), &st) == 0 && (st.st_mode & 07777) == 0600);
        QCOMPARE(::chmod(path.constData(), 0640), 0);
        store.store(app, section, list, QStringLiteral("b;"));
        QVERIFY(::stat(path.constData(), &st) == 0 && (st.st_mode & 07777) == 0640);
        QCOMPARE(::chmod(path.constData(), 0444), 0);
        QVERIFY_THROWS_EXCEPTION(PlatformError, store.store(app, section, list, QStringLiteral("c;")));
        QCOMPARE(onDisk(list).toString(), QStringLiteral("b;"));
    }

    void failedWriteIsAFailure_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("blocked"); // a folder where this file goes
        QTest::newRow("value file") << QStringLiteral("Slider1")
                                    << QStringLiteral("Tamberlyn/Orrowdale/Slider1.txt");
        QTest::newRow("list file") << list << QStringLiteral("Tamberlyn/Orrowdale/Zip Codes.txt");
    }
    void failedWriteIsAFailure()
    {
        QFETCH(QString, key);
        QFETCH(QString, blocked);
        QTemporaryDir other;
        QVERIFY(QDir(other.path()).mkpath(blocked));
        useConfigFolder(other.path());
        QVERIFY_THROWS_EXCEPTION(PlatformError, store.store(app, section, key, QStringLiteral("60")));
        // Read back, the default would stand in for a value that may be there: a failure too.
        QVERIFY_THROWS_EXCEPTION(PlatformError, store.read(app, section, key, QStringLiteral("85")));
        useConfigFolder(config.path());
    }
};

QTEST_GUILESS_MAIN(TestQtSettingsStore)
#include "test_qtsettingsstore.moc"
