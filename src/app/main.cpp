#include "app/Application.h"
#include "cli/CommandLine.h"
#include "cli/SingleInstance.h"
#include "models/AppError.h"
#include "models/LocalPath.h"
#include "models/UserText.h"
#include "models/Utf8.h"
#include "services/APIService.h"
#include "services/APIServiceIncoming.h"
#include "services/OffMainThread.h"
#include "services/PrivateTempDir.h"
#include "transfers/ClientSession.h"
#include "transfers/SentTransferOperations.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cstdio>

namespace {
void setIdentity() {
    QCoreApplication::setOrganizationName(QStringLiteral("Zanvolt"));
    QCoreApplication::setApplicationName(QStringLiteral("Zanvolt"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZANVOLT_VERSION));
}

// An argument that is not UTF-8 (a Latin-1 file name) would lose its bytes as text: it goes on as a
// file URL that keeps them.
QStringList fileArguments(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (decodeUtf8Strict(argument)) {
            arguments << QString::fromUtf8(argument);
            continue;
        }
        const QByteArray absolute =
            argument.startsWith('/') ? argument : QFile::encodeName(QDir::currentPath()) + '/' + argument;
        arguments << LocalPath::url(absolute).toString(QUrl::FullyEncoded);
    }
    return arguments;
}

} // namespace

int main(int argc, char* argv[]) {
    limitMallocArenas();
    QStringList rawArguments;
    for (int i = 1; i < argc; ++i)
        rawArguments << QString::fromLocal8Bit(argv[i]);
    // The command line needs no display: decided before a GUI application object exists.
    if (CommandLine::handles(rawArguments)) {
        QCoreApplication app(argc, argv);
        setIdentity();
        UserText::installTranslations();
        return CommandLine::run(QStringList{QCoreApplication::arguments().value(0)} +
                                fileArguments(argc, argv));
    }

    // A Wayland client can neither place its own window nor set the clipboard
    // without focus: run through XWayland unless the user chose a platform.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qgetenv("XDG_SESSION_TYPE") == "wayland")
        qputenv("QT_QPA_PLATFORM", "xcb");

    QApplication app(argc, argv);
    setIdentity();
    QApplication::setDesktopFileName(QStringLiteral("com.zanvolt.Zanvolt"));
    QApplication::setQuitOnLastWindowClosed(false);

    // The client's and Qt's own texts (dialog buttons) in the user's language.
    UserText::installTranslations();

    const QStringList arguments = fileArguments(argc, argv); // what Qt took for itself removed
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
    APIService::removeUnfinishedDownloads(SentTransferOperations::downloadFolder());

    Application application;
    application.start(
        SingleInstance::acceptedFiles(SingleInstance::urlsFromArguments(arguments, QDir::currentPath())));
    QObject::connect(instance.get(), &SingleInstance::filesReceived, &application,
                     &Application::receiveFiles);
    instance->serveUploads(application.session()->uploads());
    QObject::connect(instance.get(), &SingleInstance::showRequested, &application, &Application::showPanel);
    return app.exec();
}
