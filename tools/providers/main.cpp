// orrowdale-providers: stand-ins for the map providers the gateway draws on (a geocoder, a tile
// server and a static-map API), for tests, benchmarks and trying the gateway without a provider.
// Prints "listening on http://127.0.0.1:PORT" as its first line, then each request line on
// stderr, and runs until it is killed.

#include "ProviderStandIn.h"

#include <QCommandLineParser>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    // A server without a window: it needs a font database, not a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orrowdale-providers"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Stand-in map providers for the Orrowdale gateway."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Port to listen on (0: any free one)."),
                                        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption keyOption(
        QStringLiteral("key"), QStringLiteral("The key every request must carry."), QStringLiteral("KEY"));
    const QCommandLineOption tileFaultOption(QStringLiteral("tile-fault"),
                                             QStringLiteral("A fault for every tile request."),
                                             QStringLiteral("FAULT"));
    parser.addOptions({portOption, keyOption, tileFaultOption});
    parser.process(app);

    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535) {
        std::fprintf(stderr, "orrowdale-providers: --port needs a number from 0 to 65535\n");
        return 2;
    }
    ProviderStandIn standIn;
    standIn.setKey(parser.value(keyOption));
    standIn.setFault(ProviderStandIn::Endpoint::Tiles, parser.value(tileFaultOption));
    if (!standIn.listen(quint16(port))) {
        std::fprintf(stderr, "orrowdale-providers: cannot listen on 127.0.0.1:%u\n", port);
        return 1;
    }
    QObject::connect(&standIn, &ProviderStandIn::requestReceived, [](const QByteArray& line) {
        std::fprintf(stderr, "%s\n", line.constData());
        std::fflush(stderr);
    });
    std::printf("listening on %s\n", qPrintable(standIn.baseUrl()));
    std::fflush(stdout);
    return app.exec();
}
