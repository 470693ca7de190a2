#include "DevServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

#include <csignal>
#include <cstdio>
#include <pthread.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zanvolt-devserver"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Zanvolt-Testserver: ein Transferserver zum Ausprobieren und Testen."));
    parser.addHelpOption();
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Port (Vorgabe 8443)."),
                                  QStringLiteral("PORT"), QStringLiteral("8443"));
    const QCommandLineOption bind(QStringLiteral("bind"), QStringLiteral("Adresse (Vorgabe 127.0.0.1)."),
                                  QStringLiteral("ADRESSE"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption data(QStringLiteral("data"), QStringLiteral("Datenordner."),
                                  QStringLiteral("ORDNER"));
    const QCommandLineOption apiKey(QStringLiteral("api-key"),
                                    QStringLiteral("API-Key (sonst der gespeicherte oder ein neuer)."),
                                    QStringLiteral("KEY"));
    const QCommandLineOption plainHttp(QStringLiteral("plain-http"), QStringLiteral("HTTP statt HTTPS."));
    const QCommandLineOption testControls(QStringLiteral("test-controls"),
                                          QStringLiteral("Teststeuerung unter /test/ und PUT /bench/sink."));
    const QCommandLineOption publicUrl(
        QStringLiteral("public-url"),
        QStringLiteral("Anfang der Download-Links (Vorgabe: die eigene Adresse)."), QStringLiteral("URL"));
    const QCommandLineOption updateFeed(
        QStringLiteral("update-feed"),
        QStringLiteral("Ordner, dessen Dateien unter /updates/ ausgeliefert werden."),
        QStringLiteral("ORDNER"));
    parser.addOptions({port, bind, data, apiKey, plainHttp, testControls, publicUrl, updateFeed});
    parser.process(app);

    bool portOk = false;
    DevServer::Options options;
    options.port = parser.value(port).toInt(&portOk);
    if (!portOk || options.port < 0 || options.port > 65535) {
        std::fprintf(stderr, "Ungültiger Port: %s\n", qPrintable(parser.value(port)));
        return 2;
    }
    options.bindAddress = parser.value(bind);
    options.dataDir = parser.isSet(data)
                          ? parser.value(data)
                          : QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                                QStringLiteral("/zanvolt-devserver");
    options.apiKey = parser.value(apiKey);
    options.plainHttp = parser.isSet(plainHttp);
    options.testControls = parser.isSet(testControls);
    options.publicBaseURL = parser.value(publicUrl);

    // Blocked before any server thread exists, so that only sigwait below sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    DevServer server(options);
    if (parser.isSet(updateFeed))
        server.setUpdateFeedDirectory(QDir(parser.value(updateFeed)).absolutePath());
    if (!server.start()) {
        std::fprintf(stderr, "Server startet nicht: %s\n", qPrintable(server.lastError()));
        return 1;
    }
    std::printf("Zanvolt-Testserver läuft: %s\n", qPrintable(server.baseURL()));
    std::printf("API-Key: %s\n", qPrintable(server.apiKey()));
    std::printf("Datenordner: %s\n", qPrintable(QDir::toNativeSeparators(server.dataDir())));
    if (options.testControls)
        std::printf("Teststeuerung aktiv (/test/…, PUT /bench/sink)\n");
    std::printf("Beenden mit Strg+C\n");
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.stop();
    return 0;
}
