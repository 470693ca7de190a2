#include "APIService.h"
#include "APIServiceIncoming.h"
#include "AppError.h"
#include "Application.h"
#include "PrivateTempDir.h"
#include "SentTransfers.h"
#include "SingleInstance.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstdio>

int main(int argc, char* argv[]) {
    // A Wayland client can neither place its own window nor set the clipboard
    // without focus: run through XWayland unless the user chose a platform.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qgetenv("XDG_SESSION_TYPE") == "wayland")
        qputenv("QT_QPA_PLATFORM", "xcb");

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Zanvolt"));
    QApplication::setApplicationName(QStringLiteral("Zanvolt"));
    QApplication::setApplicationVersion(QStringLiteral(ZANVOLT_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("com.zanvolt.Zanvolt"));
    QApplication::setQuitOnLastWindowClosed(false);

    // Qt's own texts (network errors, dialog buttons) in German.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::German), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);

    const QStringList arguments = QApplication::arguments().mid(1);
    std::unique_ptr<SingleInstance> instance;
    try {
        instance = std::make_unique<SingleInstance>();
    } catch (const AppError& error) {
        std::fprintf(stderr, "zanvolt: %s\n", qPrintable(error.message()));
        return 1;
    }
    switch (instance->start(arguments)) {
    case SingleInstance::Outcome::Primary:
        break;
    case SingleInstance::Outcome::HandedOver:
        return 0;
    case SingleInstance::Outcome::Refused:
        std::fprintf(stderr, "zanvolt: Keine Dateien zum Senden gefunden.\n");
        return 1;
    case SingleInstance::Outcome::Unavailable:
        std::fprintf(stderr, "zanvolt: Die laufende Zanvolt-Instanz antwortet nicht.\n");
        return 1;
    }

    // Only the one running instance may clear what an earlier, killed run left.
    PrivateTempDir::removeLeftovers();
    APIService::removeUnfinishedDownloads(APIService::incomingFolder());
    APIService::removeUnfinishedDownloads(SentTransfers::downloadFolder());

    Application application;
    application.start(
        SingleInstance::acceptedFiles(SingleInstance::urlsFromArguments(arguments, QDir::currentPath())));
    QObject::connect(instance.get(), &SingleInstance::filesReceived, &application,
                     &Application::receiveFiles);
    QObject::connect(instance.get(), &SingleInstance::showRequested, &application, &Application::showPanel);
    return app.exec();
}
