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
    const QCommandLineOption tlsOption(
        QStringLiteral("tls"),
        QStringLiteral("Also answer https, with this certificate and key (PEM): every request there is "
                       "redirected to plain http. Its port is logged as \"tls on https://...\"."),
        QStringLiteral("CERT,KEY"));
    parser.addOptions({portOption, keyOption, tileFaultOption, tlsOption});
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
    if (parser.isSet(tlsOption)) {
        const QStringList files = parser.value(tlsOption).split(u',');
        if (files.size() != 2 || !standIn.listenTls(files[0], files[1])) {
            std::fprintf(stderr, "orrowdale-providers: --tls needs a usable CERT,KEY pair\n");
            return 1;
        }
    }
    QObject::connect(&standIn, &ProviderStandIn::requestReceived, [](const QByteArray& line) {
        std::fprintf(stderr, "%s\n", line.constData());
        std::fflush(stderr);
    });
    std::printf("listening on %s\n", qPrintable(standIn.baseUrl()));
    std::fflush(stdout);
    if (standIn.tlsPort() != 0) {
        std::fprintf(stderr, "tls on https://127.0.0.1:%u\n", standIn.tlsPort());
        std::fflush(stderr);
    }
    return app.exec();
}
