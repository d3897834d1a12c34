#include "ConfigFile.h"
#include "ConfigWriter.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using Changes = QList<ConfigWriter::Change>;
Q_DECLARE_METATYPE(Changes)

// Saving from the settings page changes only the lines of the settings it sets: what the user
// wrote around them stays, and the file is replaced whole (the browser test sees it made private).
class TestConfigWriter : public QObject
{
    Q_OBJECT

    // A null value takes the setting out.
    static ConfigWriter::Change set(const char* section, const char* key, const char* value)
    {
        return {QString::fromLatin1(section), QString::fromLatin1(key),
                value ? std::optional(QString::fromUtf8(value)) : std::nullopt};
    }

private slots:
    void apply_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<Changes>("changes");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("in place, the user's spelling and other lines kept")
            << QByteArray("# mine\n[Gateway]\n  Source = demo\nunknown = 1\n; old = 2\n")
            << Changes{set("gateway", "source", "maptiler")}
            << QByteArray("# mine\n[Gateway]\n  Source = maptiler\nunknown = 1\n; old = 2\n");
        QTest::newRow("new below its commented example")
            << QByteArray("[gateway]\nsource = demo\n# The key, as {key}.\n# key = \n\n[static]\n# key = \n")
            << Changes{set("gateway", "key", "K1")}
            << QByteArray("[gateway]\nsource = demo\n# The key, as {key}.\n# key = \nkey = K1\n\n[static]\n# "
                          "key = \n");
        QTest::newRow("new at the end of its section, before the blank line")
            << QByteArray("[gateway]\nsource = demo\n\n[limits]\ncache_mb = 5\n")
            << Changes{set("gateway", "style", "dark")}
            << QByteArray("[gateway]\nsource = demo\nstyle = dark\n\n[limits]\ncache_mb = 5\n");
        QTest::newRow("section made at the end")
            << QByteArray("[limits]\ncache_mb = 5\n\n\n") << Changes{set("gateway", "source", "demo")}
            << QByteArray("[limits]\ncache_mb = 5\n\n[gateway]\nsource = demo\n");
        QTest::newRow("every line of the key, only in its section")
            << QByteArray("[tiles]\nkey = t\n[gateway]\nkey = a\nKEY=b\n")
            << Changes{set("gateway", "key", "c")}
            << QByteArray("[tiles]\nkey = t\n[gateway]\nkey = c\nKEY = c\n");
        QTest::newRow("taken out") << QByteArray("[gateway]\nkey = a\nsource = x\nkey = b\n")
                                   << Changes{set("gateway", "key", nullptr)}
                                   << QByteArray("[gateway]\nsource = x\n");
        QTest::newRow("CR LF and byte-order mark kept")
            << QByteArray("\xEF\xBB\xBF[gateway]\r\nsource = demo\r\n")
            << Changes{set("gateway", "source", "static"), set("gateway", "key", "k")}
            << QByteArray("\xEF\xBB\xBF[gateway]\r\nsource = static\r\nkey = k\r\n");
    }
    void apply()
    {
        QFETCH(QByteArray, before);
        QFETCH(Changes, changes);
        QFETCH(QByteArray, after);
        QCOMPARE(ConfigWriter::apply(before, changes), after);
    }

    // What the page writes into the template is what the gateway then reads.
    void templateReadsBack()
    {
        const QByteArray text =
            ConfigWriter::apply(ConfigFile::templateText(),
                                {set("gateway", "source", "static"), set("gateway", "key", "K = #1;"),
                                 set("gateway", "marker", "off"), set("gateway", "picture_size", "1280"),
                                 set("gateway", "country", "US"),
                                 set("static", "url", "http://127.0.0.1:1/s?q={search}&k={key}")});
        const ConfigFile::Reading reading = ConfigFile::parse(text);
        QCOMPARE(reading.errors + reading.warnings, QStringList());
        QCOMPARE(reading.config.source, GatewayConfig::Source::Static);
        QCOMPARE(reading.config.key, QStringLiteral("K = #1;"));
        QCOMPARE(reading.config.marker, false);
        QCOMPARE(reading.config.pictureSize, 1280);
        QCOMPARE(reading.config.country, QStringLiteral("US"));
    }

    void replaceIsWholeAndPrivate()
    {
        QTemporaryDir dir;
        const QString real = dir.filePath(QStringLiteral("dotfiles/gateway.conf"));
        const QString link = dir.filePath(QStringLiteral("config/orrowdale/gateway.conf"));
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("dotfiles")) &&
                QDir(dir.path()).mkpath(QStringLiteral("config/orrowdale")));
        QFile file(real);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("old\n") == 4);
        file.close();
        QVERIFY(QFile::link(real, link));

        QString error;
        QVERIFY2(ConfigWriter::replace(link, "new\n", &error), qPrintable(error));
        QVERIFY(QFileInfo(link).isSymLink()); // the user's link stays; what it names is replaced
        QFile written(real);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), QByteArray("new\n"));
        QCOMPARE(QDir(dir.filePath(QStringLiteral("dotfiles"))).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("gateway.conf")});
    }
};

QTEST_GUILESS_MAIN(TestConfigWriter)
#include "test_configwriter.moc"
