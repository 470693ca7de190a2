#include "CommandLine.h"

#include "Commands.h"
#include "ConsoleOutput.h"
#include "LocalPath.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <unistd.h>

namespace {
const QStringList commands{QStringLiteral("send"), QStringLiteral("list"), QStringLiteral("inbox")};

// Translated when asked for, after the translation is installed.
QString description() {
    return QCoreApplication::translate(
        "CommandLine", "Zanvolt – Dateien über den Transfer-Server senden.\n"
                       "\n"
                       "Befehle:\n"
                       "  zanvolt [DATEI…]\n"
                       "      Dateien an den laufenden Zanvolt übergeben (startet ihn, wenn keiner läuft)\n"
                       "  zanvolt send [--password] [--json] DATEI…\n"
                       "      hochladen (mehrere Dateien oder ein Ordner als ZIP) und den Download-Link\n"
                       "      ausgeben, mit --password auch das vom Server erzeugte Passwort (zweite Zeile)\n"
                       "  zanvolt list [--json]\n"
                       "      gesendete Transfers auflisten: Name, Datum, Link, heruntergeladen\n"
                       "  zanvolt inbox [--json]\n"
                       "      Kunden-Uploads auflisten\n"
                       "\n"
                       "Rückgabewerte:\n"
                       "  0  Erfolg\n"
                       "  1  abgebrochen oder keine Antwort vom laufenden Zanvolt\n"
                       "  2  falscher Aufruf\n"
                       "  3  Konfiguration fehlt (Server-URL, API-Key, Schlüsselbund)\n"
                       "  4  Netzwerk- oder Server-Fehler\n"
                       "  5  Datei fehlt, ist nicht lesbar oder konnte nicht gepackt werden");
}

int usageError(const QString& text) {
    ConsoleOutput::error(text + QCoreApplication::translate("CommandLine", "\nMehr dazu: zanvolt --help"));
    return int(ExitCode::Usage);
}
} // namespace

bool CommandLine::handles(const QStringList& arguments) {
    if (arguments.isEmpty())
        return false;
    const QString& first = arguments.first();
    return commands.contains(first) || first.startsWith(QLatin1Char('-'));
}

int CommandLine::run(const QStringList& arguments) {
    // stderr carries the one error a script reads; QT_LOGGING_RULES still turns the log back on.
    QLoggingCategory::setFilterRules(QStringLiteral("zanvolt.*.info=false"));
    QCommandLineParser parser;
    parser.setApplicationDescription(description());
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption password(
        QStringLiteral("password"),
        QCoreApplication::translate("CommandLine", "send: den Server ein Passwort erzeugen lassen"));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QCoreApplication::translate("CommandLine", "Ausgabe als JSON"));
    parser.addOption(password);
    parser.addOption(json);
    parser.addPositionalArgument(QCoreApplication::translate("CommandLine", "befehl"),
                                 QCoreApplication::translate("CommandLine", "send, list oder inbox"));
    parser.addPositionalArgument(QCoreApplication::translate("CommandLine", "dateien"),
                                 QCoreApplication::translate("CommandLine", "send: Dateien oder Ordner"),
                                 QCoreApplication::translate("CommandLine", "[DATEI…]"));

    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        ConsoleOutput::out(parser.helpText());
        return int(ExitCode::Success);
    }
    if (parser.isSet(version)) {
        ConsoleOutput::out(QCoreApplication::applicationName() + QLatin1Char(' ') +
                           QCoreApplication::applicationVersion() + QLatin1Char('\n'));
        return int(ExitCode::Success);
    }

    QStringList positional = parser.positionalArguments();
    const QString command = positional.isEmpty() ? QString() : positional.takeFirst();
    if (!commands.contains(command))
        return usageError(
            command.isEmpty()
                ? QCoreApplication::translate("CommandLine", "Kein Befehl angegeben.")
                : QCoreApplication::translate("CommandLine", "Unbekannter Befehl: %1").arg(command));
    if (command != QLatin1String("send")) {
        if (!positional.isEmpty())
            return usageError(QCoreApplication::translate("CommandLine", "Unerwartetes Argument: %1")
                                  .arg(positional.first()));
        if (parser.isSet(password))
            return usageError(QCoreApplication::translate("CommandLine", "--password gilt nur für send."));
        return int(command == QLatin1String("list") ? Commands::list(parser.isSet(json))
                                                    : Commands::inbox(parser.isSet(json)));
    }

    if (positional.isEmpty())
        return usageError(QCoreApplication::translate("CommandLine", "Keine Dateien angegeben."));
    Commands::SendOptions options;
    options.generatePassword = parser.isSet(password);
    options.json = parser.isSet(json);
    for (const QString& path : std::as_const(positional)) {
        // A name that is not UTF-8 arrives as a file URL that keeps its bytes (see main).
        const QUrl url =
            path.startsWith(QLatin1String("file:///"))
                ? QUrl(path, QUrl::StrictMode)
                : QUrl::fromLocalFile(QDir::cleanPath(QFileInfo(QDir::current(), path).absoluteFilePath()));
        const QByteArray native = LocalPath::bytes(url);
        if (::access(native.constData(), F_OK) != 0) {
            ConsoleOutput::error(
                QCoreApplication::translate("CommandLine", "Datei nicht gefunden: %1").arg(path));
            return int(ExitCode::LocalFile);
        }
        if (::access(native.constData(), R_OK) != 0) {
            ConsoleOutput::error(
                QCoreApplication::translate("CommandLine", "Datei nicht lesbar: %1").arg(path));
            return int(ExitCode::LocalFile);
        }
        options.files.append(url);
    }
    return int(Commands::send(options));
}
