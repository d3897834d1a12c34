// orrowdale-mapservice: the local map service, for tests and the offline demo.
// Prints "listening on http://127.0.0.1:PORT" as its first line, then each request line on
// stderr, and runs until it is killed.

#include "MapService.h"

#include <QCommandLineParser>
#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    // A server without a window: it needs a font database, not a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orrowdale-mapservice"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("A local map service for Orrowdale's tests and demo."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Port to listen on (0: any free one)."),
                                        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption baseOption(
        QStringLiteral("base"),
        QStringLiteral("Base URL written into pages (default http://127.0.0.1:PORT)."),
        QStringLiteral("URL"));
    const QCommandLineOption stallOption(QStringLiteral("stall-ms"),
                                         QStringLiteral("How long a stall lasts."), QStringLiteral("MS"));
    const QCommandLineOption dripOption(QStringLiteral("drip-ms"),
                                        QStringLiteral("Time between dripped bytes."), QStringLiteral("MS"));
    const QCommandLineOption dripLimitOption(QStringLiteral("drip-limit-ms"),
                                             QStringLiteral("When a drip is cut off."), QStringLiteral("MS"));
    const QCommandLineOption endlessOption(QStringLiteral("endless-bytes"),
                                           QStringLiteral("Where an endless body ends."),
                                           QStringLiteral("BYTES"));
    parser.addOptions({portOption, baseOption, stallOption, dripOption, dripLimitOption, endlessOption});
    parser.process(app);

    auto number = [&parser](const QCommandLineOption& option, qint64 fallback, qint64 high) {
        if (!parser.isSet(option)) {
            return fallback;
        }
        bool ok = false;
        const qint64 value = parser.value(option).toLongLong(&ok);
        if (!ok || value < 0 || value > high) {
            std::fprintf(stderr, "orrowdale-mapservice: --%s needs a number from 0 to %lld\n",
                         qPrintable(option.names().constFirst()), static_cast<long long>(high));
            std::exit(2);
        }
        return value;
    };
    MapService service;
    MapService::Limits limits;
    limits.stallMs = static_cast<int>(number(stallOption, limits.stallMs, 3'600'000));
    limits.dripIntervalMs = static_cast<int>(number(dripOption, limits.dripIntervalMs, 3'600'000));
    limits.dripLimitMs = static_cast<int>(number(dripLimitOption, limits.dripLimitMs, 3'600'000));
    limits.endlessBytes = number(endlessOption, limits.endlessBytes, qint64(1) << 40);
    service.setLimits(limits);
    const auto port = static_cast<quint16>(number(portOption, 0, 65535));

    if (!service.listen(port)) {
        std::fprintf(stderr, "orrowdale-mapservice: cannot listen on 127.0.0.1:%u: %s\n", port,
                     qPrintable(service.errorString()));
        return 1;
    }
    if (parser.isSet(baseOption)) {
        service.setBaseUrl(parser.value(baseOption));
    }
    QObject::connect(&service, &MapService::requestReceived, [](const QByteArray& line) {
        std::fprintf(stderr, "%s\n", line.constData());
        std::fflush(stderr);
    });
    std::printf("listening on http://127.0.0.1:%u\n", service.port());
    std::fflush(stdout);
    return app.exec();
}
