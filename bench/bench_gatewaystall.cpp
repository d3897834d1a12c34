// Clients that ask the gateway for a big picture and never read it: 260 of them, each asking for
// a 7 MB picture, more than the gateway's 256 connections. Prints the gateway's resident size
// meanwhile, how they were answered, and how long a fresh request takes during the stall and
// once the delivery allowance (30 s from accept) has passed.
// Targets: resident size under 150 MB; a fresh request answered within 1 s after the allowance.
#include "support/GatewayProcess.h"
#include "support/ProviderStandInProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSaveFile>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int Clients = 260;
constexpr qint64 TargetMiB = 150;
constexpr qint64 TargetFreshMs = 1000;

struct Answer
{
    QByteArray first;  // the status line
    qint64 second = 0; // ms
    QByteArray all;
};

// One whole request, read to the end.
Answer get(quint16 port, const QByteArray& target)
{
    QElapsedTimer clock;
    clock.start();
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000)) {
        return {"no connection", clock.elapsed(), {}};
    }
    socket.write("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\n\r\n");
    QByteArray all;
    while (socket.waitForReadyRead(25'000)) {
        all += socket.readAll();
    }
    all += socket.readAll();
    return {all.left(all.indexOf("\r\n")), clock.elapsed(), all};
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    ProviderStandInProcess providers;
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("gateway.conf"));
    {
        QSaveFile file(config);
        file.open(QIODevice::WriteOnly);
        file.write("[gateway]\nsource = static\n[static]\nurl = " + providers.baseUrl().toUtf8() +
                   "/staticmap?center={search}&zoom={zoom}&size={width}x{height}\n[limits]\ncache_mb = 64\n"
                   "cache_dir = " +
                   dir.filePath(QStringLiteral("cache")).toUtf8() + "\n");
        file.commit();
    }
    GatewayProcess gateway({QStringLiteral("--config"), config});
    if (providers.baseUrl().isEmpty() || !gateway.isRunning()) {
        std::printf("the gateway or the stand-in providers did not start\n");
        return 1;
    }
    const quint16 port = gateway.port();
    // The address as the page gives it (it holds the gateway's token).
    const QByteArray body = get(port, "/maps?q=fault-noise-7000%20stall").all;
    const qsizetype at = body.indexOf("/mapdata?");
    const QByteArray picture = body.mid(at, body.indexOf(' ', at) - at) + "&zl=4";
    const Answer warm = get(port, picture);
    std::printf("warming the cache: %s in %lld ms\n", warm.first.constData(),
                static_cast<long long>(warm.second));

    QElapsedTimer clock;
    clock.start();
    std::vector<std::unique_ptr<QTcpSocket>> stalled;
    const QByteArray request =
        "GET " + picture + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\n\r\n";
    for (int i = 0; i < Clients; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        socket->setReadBufferSize(1); // takes a byte, then reads no more
        socket->connectToHost(QHostAddress::LocalHost, port);
        if (socket->waitForConnected(2000)) {
            socket->write(request);
            socket->waitForBytesWritten(1000);
        }
        stalled.push_back(std::move(socket));
    }
    std::printf("%d clients asking for a %s and not reading, all connected after %lld ms\n", Clients,
                QByteArray::number(warm.all.size() / 1e6, 'f', 1).append(" MB picture").constData(),
                static_cast<long long>(clock.elapsed()));

    qint64 peak = 0;
    qint64 freshDuring = -1;
    QByteArray freshDuringStatus;
    while (clock.elapsed() < 31'000) {
        peak = std::max(peak, gateway.residentKiB() / 1024);
        if (freshDuring < 0 && clock.elapsed() > 5000) {
            const Answer fresh = get(port, "/maps?q=fresh");
            freshDuring = fresh.second;
            freshDuringStatus = fresh.first;
        }
        QThread::msleep(200);
    }
    const QStringList log = gateway.log();
    const qsizetype ok = log.filter(QStringLiteral(" 200 \"OK\" ")).size() - 1; // less the warming one
    const qsizetype busy = log.filter(QStringLiteral(" 503 ")).size();
    const Answer after = get(port, picture);
    std::printf("answers to the stalled clients: %lld with the picture, %lld turned away (503)\n",
                static_cast<long long>(ok), static_cast<long long>(busy));
    std::printf("peak resident size: %lld MiB (target: under %lld MiB)\n", static_cast<long long>(peak),
                static_cast<long long>(TargetMiB));
    std::printf("a fresh page during the stall: %s in %lld ms\n", freshDuringStatus.constData(),
                static_cast<long long>(freshDuring));
    std::printf("the picture, read, after the allowance: %s in %lld ms (target: within %lld ms)\n",
                after.first.constData(), static_cast<long long>(after.second),
                static_cast<long long>(TargetFreshMs));
    std::printf("resident size after: %lld MiB\n", static_cast<long long>(gateway.residentKiB() / 1024));
    return peak < TargetMiB && after.first.contains(" 200 ") && after.second < TargetFreshMs ? 0 : 1;
}
