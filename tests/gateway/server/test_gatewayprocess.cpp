#include "RawHttp.h"
#include "support/GatewayProcess.h"

#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

quint16 portOf(const QString& baseUrl)
{
    return static_cast<quint16>(baseUrl.section(QLatin1Char(':'), -1).toUInt());
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

// The gateway executable as users and service managers start it: its first run, its command
// line, leaving when idle, and taking over a socket it is handed.
class TestGatewayProcess : public QObject
{
    Q_OBJECT

    QTemporaryDir home;

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
        return env;
    }

private slots:
    // A first run makes a private configuration file holding the template, and serves demo
    // pictures at once.
    void firstRun()
    {
        GatewayProcess gateway({}, environment());
        QVERIFY2(gateway.isRunning(), qPrintable(gateway.errorString()));
        const QString path = home.filePath(QStringLiteral("config/orrowdale/gateway.conf"));
        QFile file(path);
        QVERIFY(file.exists());
        // Read and write for its owner, nothing for anyone else.
        QCOMPARE(file.permissions(),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        QVERIFY(gateway.waitForLog(QStringLiteral("configuration %1: demo maps").arg(path)));

        // The place holds an escaped comma, which the log shows as sent.
        const quint16 port = portOf(gateway.baseUrl());
        const RawAnswer page = rawGet(port, "/maps?q=Londonderry%2C%20UK");
        QCOMPARE(page.status(), 200);
        const QByteArray address = pictureAddress(port, "Londonderry%2C%20UK");
        QVERIFY2(address.startsWith("/mapdata?q=Londonderry%2C%20UK&w=640&h=640&t="), address.constData());
        QVERIFY(page.body.contains("<img src=" + gateway.baseUrl().toUtf8() + address +
                                   " style=\"border:0\">\r\n"));
        const RawAnswer picture = rawGet(port, address + "&zl=0");
        QCOMPARE(picture.status(), 200);
        QVERIFY(picture.head.contains("\r\nContent-Type: image/png\r\n"));
        const QImage image = QImage::fromData(picture.body);
        QCOMPARE(image.size(), QSize(640, 640));
        // The demo marking: a dark band along the bottom.
        QVERIFY(qGray(image.pixel(600, 638)) < 90);
        const QRegularExpression logged(QStringLiteral("^\\S+ GET %1&zl=0 200 \"OK\" %2 bytes \\d+ ms$")
                                            .arg(QRegularExpression::escape(QString::fromUtf8(address)),
                                                 QString::number(picture.body.size())));
        QTRY_VERIFY2(!gateway.log().filter(logged).isEmpty(), qPrintable(gateway.log().join(u'\n')));
    }

    // Where the configuration file cannot be made, the gateway says so and draws demo maps.
    void configurationCannotBeMade()
    {
        QFile(home.filePath(QStringLiteral("a-file"))).open(QIODevice::WriteOnly);
        QFile::link(home.filePath(QStringLiteral("nowhere/gateway.conf")),
                    home.filePath(QStringLiteral("dangling.conf")));
        for (const char* path : {"a-file/orrowdale/gateway.conf", "dangling.conf"}) {
            GatewayProcess gateway({"--config", home.filePath(QString::fromLatin1(path))}, environment());
            QVERIFY2(gateway.isRunning(), qPrintable(gateway.errorString()));
            QVERIFY(gateway.waitForLog(QStringLiteral("cannot create ")));
            QVERIFY(gateway.waitForLog(QStringLiteral("(using demo maps)")));
            const quint16 port = portOf(gateway.baseUrl());
            QCOMPARE(rawGet(port, pictureAddress(port, "x") + "&zl=3").status(), 200);
        }
    }

    // The bounds as shipped, not as a test sets them: 64 header fields, 10 s for a request to
    // arrive, 256 connections open at once.
    void shippedBounds()
    {
        GatewayProcess gateway({}, environment());
        QVERIFY(gateway.isRunning());
        const quint16 port = portOf(gateway.baseUrl());
        QByteArray fields = "X: 1\r\n"; // with Host: 64
        fields = fields.repeated(63);
        QCOMPARE(rawGet(port, "/maps?q=x", fields).status(), 200);
        QCOMPARE(rawGet(port, "/maps?q=x", fields + "X: 1\r\n").status(), 431);

        std::vector<std::unique_ptr<QTcpSocket>> open(256);
        for (auto& socket : open) {
            socket = std::make_unique<QTcpSocket>();
            socket->connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(socket->waitForConnected(2000));
        }
        QCOMPARE(rawGet(port, "/maps?q=x").reason(), QByteArray("Service Unavailable: too many connections"));
        open.pop_back();
        QTRY_COMPARE(rawGet(port, "/maps?q=x", {}, 2000).status(), 200);
        open.clear();

        const RawAnswer slow = rawExchange(port, "GET /maps?q=x HTTP/1.1\r\n", 15'000);
        QVERIFY(slow.closed);
        QVERIFY2(slow.ms >= 9'500 && slow.ms < 11'500, qPrintable(QString::number(slow.ms)));
    }

    void portInUse()
    {
        GatewayProcess first({}, environment());
        QVERIFY(first.isRunning());
        GatewayProcess second({"--port", QString::number(portOf(first.baseUrl()))}, environment());
        QVERIFY(!second.isRunning());
        QVERIFY2(second.errorString().contains(QLatin1String("cannot listen on 127.0.0.1:")),
                 qPrintable(second.errorString()));
    }

    // It leaves on its own once nothing has been asked for a while, and not before.
    void idleExit()
    {
        GatewayProcess gateway({"--idle-exit", "1"}, environment());
        QVERIFY(gateway.isRunning());
        QTest::qWait(600);
        QCOMPARE(rawGet(portOf(gateway.baseUrl()), "/maps?q=x").status(), 200);
        QTest::qWait(600);
        QVERIFY(gateway.isRunning());
        QCOMPARE(gateway.waitForExit(5000), 0);
    }

    void socketActivation_data()
    {
        QTest::addColumn<bool>("systemdTool");
        QTest::newRow("systemd-socket-activate") << true;
        QTest::newRow("descriptor handed over") << false;
    }
    // Started by a service manager on the first connection, with the listening socket handed
    // over: it answers that connection on the socket's port, then leaves when idle.
    void socketActivation()
    {
        QFETCH(bool, systemdTool);
        const QString configPath = home.filePath(QStringLiteral("activated.conf"));
        const QStringList gatewayArguments{"--config", configPath, "--idle-exit", "1", "--port", "1"};
        QProcess process;
        QTcpServer handedOver;
        quint16 port = 0;
        if (systemdTool) {
            const QString tool = QStandardPaths::findExecutable(QStringLiteral("systemd-socket-activate"));
            if (tool.isEmpty()) {
                QSKIP("systemd-socket-activate is not installed");
            }
            port = freePort();
            process.start(tool, QStringList{"-l", QStringLiteral("127.0.0.1:%1").arg(port),
                                            QStringLiteral(ORROWDALE_GATEWAY_PATH)} +
                                    gatewayArguments);
            QVERIFY(process.waitForStarted());
            // It listens first, and starts the gateway at the first connection.
            QByteArray said;
            QTRY_VERIFY_WITH_TIMEOUT((said += process.readAllStandardError()).contains("Listening"), 5000);
        } else {
            QVERIFY(handedOver.listen(QHostAddress::LocalHost, 0));
            port = handedOver.serverPort();
            const int descriptor = static_cast<int>(handedOver.socketDescriptor());
            process.setChildProcessModifier([descriptor] {
                // In the child, before it becomes the gateway: the socket at 3, announced for it.
                ::dup2(descriptor, 3);
                char pid[32];
                std::snprintf(pid, sizeof pid, "%ld", static_cast<long>(::getpid()));
                ::setenv("LISTEN_PID", pid, 1);
                ::setenv("LISTEN_FDS", "1", 1);
            });
            process.start(QStringLiteral(ORROWDALE_GATEWAY_PATH), gatewayArguments);
            QVERIFY(process.waitForStarted());
            handedOver.close(); // only the gateway listens now
        }
        const RawAnswer page = rawGet(port, "/maps?q=x", {}, 10'000);
        QCOMPARE(page.status(), 200);
        QVERIFY2(page.body.contains(
                     QStringLiteral("<img src=http://127.0.0.1:%1/mapdata?q=x&").arg(port).toUtf8()),
                 page.body.constData());
        QVERIFY(process.waitForReadyRead(5000) || process.canReadLine());
        QCOMPARE(process.readLine().trimmed(),
                 QStringLiteral("listening on http://127.0.0.1:%1").arg(port).toUtf8());
        if (process.state() != QProcess::NotRunning) {
            QVERIFY2(process.waitForFinished(5000), process.readAllStandardError().constData());
        }
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
    }

    // A key in the configuration appears in no log line and no answer, whatever happens.
    void keyStaysInTheFile()
    {
        const QByteArray key = "kEy-0f-The-User-93";
        const QString configPath = home.filePath(QStringLiteral("keyed.conf"));
        QFile file(configPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[gateway]\nsource = static\nkey = " + key + "\nbogus = " + key +
                   "\n[static]\nurl = http://127.0.0.1:1/map?q={search}&key={key}\n");
        file.close();
        GatewayProcess gateway({"--config", configPath, "--base", "http://localhost:8"}, environment());
        QVERIFY(gateway.isRunning());
        const quint16 port = portOf(gateway.baseUrl());
        QList<RawAnswer> answers;
        const QByteArray token = "&t=" + pictureAddress(port, "x").split('=').constLast();
        answers << rawGet(port, "/maps?q=x")
                << rawGet(port, "/mapdata?q=a" + key + "&zl=1" + token, {}, 25'000)
                << rawGet(port, "/mapdata?q=" + key + token, "Origin: http://x\r\n")
                << rawExchange(port, "GET /mapdata?q=1" + token + " HTTP/1.1\r\nHost: localhost:8\r\n\r\n",
                               25'000);
        QCOMPARE(answers[0].status(), 200);
        QVERIFY(answers[1].status() >= 500);
        QCOMPARE(answers[2].status(), 403);
        QVERIFY(answers[3].status() >= 500); // the host of --base is the gateway's too
        for (const RawAnswer& a : std::as_const(answers)) {
            QVERIFY2(!a.head.contains(key) && !a.body.contains(key), a.head.constData());
        }
        const QStringList log = gateway.log();
        QVERIFY(log.size() >= 5);
        for (const QString& line : log) {
            QVERIFY2(!line.contains(QString::fromUtf8(key)), qPrintable(line));
        }
    }
};

QTEST_MAIN(TestGatewayProcess)
#include "test_gatewayprocess.moc"
