// orrowdale-gateway: answers Orrowdale's classic map requests on loopback, from demo pictures
// or a map provider set in its configuration file. Prints "listening on http://127.0.0.1:PORT"
// as its first line, then logs each request on stderr.

#include "ConfigFile.h"
#include "Gateway.h"
#include "Stitching.h"
#include "platform/ActivatedSocket.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QUrl>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    // A server without a window: it needs a font database for its pictures, not a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    keepPictureMemory();
    QCoreApplication::setApplicationName(QStringLiteral("orrowdale-gateway"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORROWDALE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Orrowdale's map gateway: answers the program's map requests on 127.0.0.1."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Port to listen on (0: any free one; default %1).").arg(ORROWDALE_GATEWAY_PORT),
        QStringLiteral("N"), QString::number(ORROWDALE_GATEWAY_PORT));
    const QCommandLineOption configOption(QStringLiteral("config"),
                                          QStringLiteral("Configuration file (default %1).")
                                              .arg(ConfigFile::displayPath(ConfigFile::defaultPath())),
                                          QStringLiteral("FILE"));
    const QCommandLineOption baseOption(
        QStringLiteral("base"),
        QStringLiteral("Base URL written into pages (default http://127.0.0.1:PORT)."),
        QStringLiteral("URL"));
    const QCommandLineOption idleOption(
        QStringLiteral("idle-exit"),
        QStringLiteral("Exit after this many seconds with no request (0: never)."), QStringLiteral("SECONDS"),
        QStringLiteral("0"));
    parser.addOptions({portOption, configOption, baseOption, idleOption});
    parser.process(app);

    auto fail = [](const QString& message, int code) {
        std::fprintf(stderr, "orrowdale-gateway: %s\n", qPrintable(message));
        std::exit(code);
    };
    auto number = [&](const QCommandLineOption& option, int high) {
        bool ok = false;
        const int value = parser.value(option).toInt(&ok);
        if (!ok || value < 0 || value > high) {
            fail(
                QStringLiteral("--%1 needs a number from 0 to %2").arg(option.names().constFirst()).arg(high),
                2);
        }
        return value;
    };
    const auto port = static_cast<quint16>(number(portOption, 65535));
    const int idleSeconds = number(idleOption, 7 * 24 * 3600);

    Gateway::Options options;
    options.configPath = parser.isSet(configOption) ? parser.value(configOption) : ConfigFile::defaultPath();
    options.baseUrl = parser.value(baseOption);
    options.idleExitMs = idleSeconds * 1000;
    if (!options.baseUrl.isEmpty()) {
        const QUrl base(options.baseUrl);
        if (!base.isValid() || base.scheme() != QLatin1String("http") || base.host().isEmpty() ||
            options.baseUrl.endsWith(QLatin1Char('/'))) {
            fail(QStringLiteral("--base needs an http:// address without a final slash"), 2);
        }
    }

    // A missing configuration gets the commented template to edit; the gateway runs without it.
    // Not being able to make it is no reason to stop: the gateway says so and draws demo maps.
    if (QString problem; !ConfigFile::ensureExists(options.configPath, &problem)) {
        std::fprintf(stderr, "orrowdale-gateway: %s (using demo maps)\n", qPrintable(problem));
    }

    Gateway gateway(options);
    gateway.setLogger([](const QString& line) {
        std::fprintf(stderr, "%s\n", line.toUtf8().constData());
        std::fflush(stderr);
    });
    QObject::connect(&gateway, &Gateway::idle, &app, [] { QCoreApplication::exit(0); });

    QString problem;
    const qintptr handedOver = ActivatedSocket::take(&problem);
    if (handedOver >= 0) {
        if (!gateway.adoptListeningSocket(handedOver)) {
            fail(QStringLiteral("cannot use the socket handed over: %1").arg(gateway.errorString()), 1);
        }
    } else {
        if (!problem.isEmpty()) {
            fail(problem, 1);
        }
        if (!gateway.listen(port)) {
            fail(QStringLiteral("cannot listen on 127.0.0.1:%1: %2").arg(port).arg(gateway.errorString()), 1);
        }
    }
    gateway.checkConfiguration();
    std::printf("listening on http://127.0.0.1:%u\n", gateway.port());
    std::fflush(stdout);
    return app.exec();
}
