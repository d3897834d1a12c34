// The built gateway as a careless neighbour meets it, with the stand-in providers behind it:
// providers that redirect badly, a cache folder that holds other people's files, and requests
// waiting behind one the provider does not answer. (Clients that never read are the HTTP
// server's test and bench_gatewaystall; pages elsewhere the gateway's and the browser test.)
#include "ProviderClient.h"
#include "ProviderStandIn.h"
#include "RawHttp.h"
#include "support/GatewayProcess.h"
#include "support/ProviderStandInProcess.h"

#include <QDirIterator>
#include <QProcess>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class TestGatewayAbuse : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<ProviderStandInProcess> providers;
    std::unique_ptr<GatewayProcess> gateway;
    QString tlsBase; // the stand-in's https address

    void writeConfig(const QString& base, const QString& cacheDir = {}, int cacheMb = 64)
    {
        QSaveFile file(dir.filePath(QStringLiteral("gateway.conf")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[gateway]\nsource = static\n[static]\nurl = " + base.toUtf8() +
                   "/staticmap?center={search}&zoom={zoom}&size={width}x{height}\n[limits]\ncache_mb = " +
                   QByteArray::number(cacheMb) + "\ncache_dir = " +
                   (cacheDir.isEmpty() ? dir.filePath(QStringLiteral("cache")) : cacheDir).toUtf8() + "\n");
        QVERIFY(file.commit());
    }
    RawAnswer picture(const QByteArray& search, const QByteArray& headers = {})
    {
        const quint16 port = gateway->port();
        return rawGet(port, pictureAddress(port, QUrl::toPercentEncoding(search)) + "&zl=4", headers, 25'000);
    }
    int providerRequests(const QString& fragment) { return int(providers->log().filter(fragment).size()); }

private slots:
    void initTestCase()
    {
        // A certificate of the test's own, which the gateway is told to trust.
        const QString cert = dir.filePath(QStringLiteral("cert.pem"));
        const QString key = dir.filePath(QStringLiteral("key.pem"));
        QProcess openssl;
        openssl.setProcessChannelMode(QProcess::MergedChannels);
        openssl.start(QStringLiteral("openssl"),
                      {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
                       "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out",
                       cert});
        QVERIFY2(openssl.waitForFinished(30'000) && openssl.exitCode() == 0, openssl.readAll().constData());
        providers = std::make_unique<ProviderStandInProcess>(QStringList{"--tls", cert + u',' + key});
        QVERIFY2(!providers->baseUrl().isEmpty(), qPrintable(providers->errorString()));
        QVERIFY(providers->waitForLog(QStringLiteral("tls on https://")));
        tlsBase = providers->log().filter(QStringLiteral("tls on ")).constFirst().mid(7);
        writeConfig(providers->baseUrl());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ORROWDALE_GATEWAY_CA_FILE"), cert);
        gateway = std::make_unique<GatewayProcess>(
            QStringList{"--config", dir.filePath(QStringLiteral("gateway.conf"))}, env);
        QVERIFY2(gateway->isRunning(), qPrintable(gateway->errorString()));
    }

    void redirects_data()
    {
        QTest::addColumn<QByteArray>("fault");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("reason");
        QTest::addColumn<int>("asked"); // how often the provider was asked, all hops together
        const QByteArray tooMany = "The map provider redirected too many times";
        const QByteArray unsafe = "The map provider redirected to an address that is not safe to follow";
        QTest::newRow("5 hops") << QByteArray("redirect-5") << 200 << QByteArray("OK") << 6;
        QTest::newRow("6 hops") << QByteArray("redirect-6") << 502 << tooMany << 6;
        QTest::newRow("loop") << QByteArray("redirect-loop") << 502 << tooMany << 1;
        QTest::newRow("to a file") << QByteArray("redirect-file") << 502 << unsafe << 1;
        QTest::newRow("https to http") << QByteArray("redirect-0") << 502 << unsafe << 1;
    }
    // Each hop is checked and asked once; a chain ends after five, a loop at once.
    void redirects()
    {
        QFETCH(QByteArray, fault);
        writeConfig(fault == "redirect-0" ? tlsBase : providers->baseUrl());
        const RawAnswer got = picture(QTest::currentDataTag() + QByteArray(" fault-") + fault);
        QTEST(got.status(), "status");
        QTEST(got.reason(), "reason");
        const QString tag = QString::fromUtf8(QUrl::toPercentEncoding(QTest::currentDataTag()));
        QFETCH(int, asked);
        QTRY_COMPARE(providerRequests(QStringLiteral("center=") + tag), asked);
    }

    // The cache keeps to a marked folder of its own: files beside it, under the folder it was
    // given, and in a folder of the same name that it did not make, all stay.
    void othersFilesInTheCacheFolder()
    {
        const QString build = dir.filePath(QStringLiteral("build"));
        const QString other = dir.filePath(QStringLiteral("other"));
        const QString ours = QStringLiteral("/orrowdale-provider-cache");
        const QStringList planted{build + "/module1.d", build + "/sub/module2.d",
                                  build + "/prepared/module3.o", other + ours + "/module4.d"};
        for (const QString& path : planted) {
            QDir().mkpath(QFileInfo(path).path());
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(4096, 'm')) == 4096);
            file.setFileTime(QDateTime::currentDateTime().addDays(-30), QFileDevice::FileModificationTime);
        }
        int n = 0;
        for (const QString& cacheDir : {build, other}) {
            writeConfig(providers->baseUrl(), cacheDir, 1);
            for (int i = 0; i < 4; ++i) { // half a megabyte each, past the 1 MB the cache may hold
                QCOMPARE(picture("fault-noise-500 picture " + QByteArray::number(++n)).status(), 200);
            }
        }
        for (const QString& path : planted) {
            QVERIFY2(QFile::exists(path), qPrintable(path + QStringLiteral(" was removed")));
        }
        QVERIFY(QFile::exists(build + ours + "/CACHEDIR.TAG"));
        QVERIFY(!QFile::exists(other + ours + "/CACHEDIR.TAG"));
        qint64 kept = 0; // it did trim its own
        for (QDirIterator it(build + ours, {QStringLiteral("*.d")}, QDir::Files,
                             QDirIterator::Subdirectories);
             it.hasNext();) {
            kept += it.nextFileInfo().size();
        }
        QVERIFY2(kept > 0 && kept <= 1 << 20, qPrintable(QString::number(kept)));
        writeConfig(providers->baseUrl());
    }

    // Requests waiting behind one the provider does not answer are told what held them up, not
    // sent to rate limits nobody set.
    void waitingBehindAnother()
    {
        ProviderStandIn standIn;
        QVERIFY(standIn.listen());
        standIn.setFault(ProviderStandIn::Endpoint::StaticMap, QStringLiteral("stall"));
        QTemporaryDir cache;
        ProviderClient::Settings settings;
        settings.cacheDirectory = cache.path();
        settings.userAgent = "test";
        ProviderClient client(settings);
        QObject owner;
        QList<QByteArray> reasons;
        for (int i = 0; i < 3; ++i) {
            client.fetch(ProviderClient::Kind::Picture,
                         QUrl(standIn.baseUrl() + "/staticmap?size=64x64&center=" + QString::number(i)),
                         QDeadlineTimer(400), &owner, {}, [&](const ProviderClient::Result& r) {
                             reasons << QByteArray::number(r.status) + ' ' + r.reason;
                         });
        }
        QTRY_COMPARE(reasons, QList<QByteArray>(3, "504 The map provider did not answer in time"));
    }
};

QTEST_MAIN(TestGatewayAbuse)
#include "test_gatewayabuse.moc"
