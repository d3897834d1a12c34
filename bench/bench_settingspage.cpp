// The settings page's own time: the page with a warm gateway, and a preview compared with the
// same picture asked of the stand-in provider directly and through the program's own request.
// Pictures go without the pin, which the gateway would draw on this provider's pictures: that is
// the gateway's per-picture work, the same for a preview and for the program.
#include "Gateway.h"
#include "ProviderStandIn.h"
#include "Stitching.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int Rounds = 200;

struct Exchange
{
    QByteArray answer;
    double ms = 0;
};

// One request on a fresh connection, read until the server closes it.
Exchange ask(quint16 port, const QByteArray& request)
{
    QTcpSocket socket;
    QEventLoop loop;
    Exchange out;
    QObject::connect(&socket, &QTcpSocket::connected, [&] { socket.write(request); });
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { out.answer += socket.readAll(); });
    QObject::connect(&socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
    QTimer::singleShot(20'000, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    socket.connectToHost(QHostAddress::LocalHost, port);
    loop.exec();
    out.ms = double(clock.nsecsElapsed()) / 1e6;
    return out;
}

double percentile(QList<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0
                            : values[std::min<qsizetype>(values.size() - 1, qsizetype(p * values.size()))];
}

void print(const char* what, const QList<double>& ms)
{
    std::printf("%-48s median %6.2f ms   95th %6.2f ms   (%lld rounds)\n", what, percentile(ms, 0.5),
                percentile(ms, 0.95), static_cast<long long>(ms.size()));
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    keepPictureMemory(); // as the gateway does at start
    QTemporaryDir dir;
    ProviderStandIn provider;
    provider.setCacheControl({});
    if (!provider.listen()) {
        std::fprintf(stderr, "bench_settingspage: the stand-in provider cannot listen\n");
        return 1;
    }
    const QString configPath = dir.filePath(QStringLiteral("gateway.conf"));
    QFile file(configPath);
    file.open(QIODevice::WriteOnly);
    file.write("# mine\n[gateway]\nsource = static\nkey = k\nmarker = off\n[static]\nurl = " +
               provider.staticTemplate().toUtf8() +
               "\n[limits]\ncache_dir = " + dir.filePath(QStringLiteral("cache")).toUtf8() + "\n");
    file.close();

    Gateway::Options options;
    options.configPath = configPath;
    Gateway gateway(options);
    if (!gateway.listen(0)) {
        std::fprintf(stderr, "bench_settingspage: the gateway cannot listen\n");
        return 1;
    }
    const quint16 port = gateway.port();
    const QByteArray host = "Host: 127.0.0.1:" + QByteArray::number(port) + "\r\n";
    const QByteArray get = "GET / HTTP/1.1\r\n" + host + "\r\n";
    const QByteArray page = ask(port, get).answer;
    const QByteArray token = QRegularExpression(QStringLiteral("name=\"token\" value=\"([^\"]+)\""))
                                 .match(QString::fromUtf8(page))
                                 .captured(1)
                                 .toLatin1();
    if (token.isEmpty()) {
        std::fprintf(stderr, "bench_settingspage: no form on the page\n");
        return 1;
    }

    QList<double> pageMs;
    for (int i = 0; i < Rounds; ++i) {
        pageMs << ask(port, get).ms;
    }

    // The program asks /maps first: its picture address holds the token /mapdata needs.
    const QByteArray maps = ask(port, "GET /maps?q=x HTTP/1.1\r\n" + host + "\r\n").answer;
    const QByteArray mapToken = QRegularExpression(QStringLiteral("&t=([^ \"]+)"))
                                    .match(QString::fromUtf8(maps))
                                    .captured(1)
                                    .toLatin1();
    auto program = [&](const QByteArray& place) {
        const Exchange answer = ask(port, "GET /mapdata?q=" + place + "&w=640&h=640&zl=4&t=" + mapToken +
                                              " HTTP/1.1\r\n" + host + "\r\n");
        if (!answer.answer.startsWith("HTTP/1.1 200")) {
            std::fprintf(stderr, "bench_settingspage: the program's picture failed:\n%s\n",
                         answer.answer.left(200).constData());
            std::exit(1);
        }
        return answer.ms;
    };
    auto preview = [&](const QByteArray& place) {
        const QByteArray form =
            "token=" + token + "&source=static&picture_size=640&action=preview&place=" + place;
        const Exchange answer =
            ask(port, "POST /settings HTTP/1.1\r\n" + host +
                          "Origin: http://127.0.0.1:" + QByteArray::number(port) +
                          "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                          QByteArray::number(form.size()) + "\r\n\r\n" + form);
        if (!answer.answer.contains("id=\"preview\"")) {
            std::fprintf(stderr, "bench_settingspage: the preview failed:\n%s\n",
                         answer.answer.left(400).constData());
            std::exit(1);
        }
        return answer.ms;
    };

    // A new place each time: every picture is the provider's work, then the gateway's.
    QList<double> direct, cold, coldPreview, coldExtra, warm, warmPreview, warmExtra;
    for (int i = 0; i < Rounds / 4; ++i) {
        const QByteArray place = QUrl::toPercentEncoding(QStringLiteral("Town %1 MA").arg(i));
        direct << ask(provider.port(), "GET /staticmap?center=Direct%20" + place +
                                           "&zoom=13&size=640x640&key=k HTTP/1.1\r\nHost: x\r\n\r\n")
                      .ms;
        cold << program("Program%20" + place);
        coldPreview << preview("Preview%20" + place);
        coldExtra << coldPreview.constLast() - cold.constLast();
    }
    // The same place again: the picture comes from the gateway's cache, so only its own work counts.
    for (int i = 0; i < Rounds / 4; ++i) {
        warm << program("Program%20Town%200%20MA");
        warmPreview << preview("Program%20Town%200%20MA");
        warmExtra << warmPreview.constLast() - warm.constLast();
    }
    print("settings page, warm", pageMs);
    print("new place: from the provider directly", direct);
    print("new place: the program's /mapdata", cold);
    print("new place: a preview on the page", coldPreview);
    print("new place: preview minus /mapdata, each pair", coldExtra);
    std::printf("new place: a preview beyond the provider's time: median %.2f ms (target <= 5 ms)\n",
                percentile(coldPreview, 0.5) - percentile(direct, 0.5));
    print("cached place: the program's /mapdata", warm);
    print("cached place: a preview on the page", warmPreview);
    print("cached place: preview minus /mapdata, each pair", warmExtra);
    return 0;
}
