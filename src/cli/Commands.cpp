#include "cli/Commands.h"

#include "cli/ConsoleOutput.h"
#include "cli/SendResult.h"
#include "cli/SingleInstance.h"
#include "models/Format.h"
#include "models/Graphemes.h"
#include "models/OrderedJson.h"
#include "models/UserText.h"
#include "net/HttpEngine.h"
#include "platform/NetworkReturnWatcher.h"
#include "platform/NoDesktopServices.h"
#include "transfers/ReceivedUploads.h"
#include "transfers/SentTransfers.h"
#include "transfers/ServerAccount.h"
#include "transfers/Uploads.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <qcoro/qcorotask.h>

namespace {
constexpr int connectTimeoutMs = 2000;

ExitCode fail(const SendResult& result) {
    ConsoleOutput::error(result.errorText);
    return result.exitCode();
}

// Nothing when no client runs; then this process uploads on its own.
std::optional<SendResult> sendThroughRunningClient(const Commands::SendOptions& options,
                                                   ConsoleOutput::ProgressLine& progress) {
    QString socketPath;
    try {
        socketPath = SingleInstance::defaultSocketPath();
    } catch (const std::exception&) {
        return std::nullopt;
    }
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(connectTimeoutMs))
        return std::nullopt;

    QJsonArray files;
    for (const QUrl& url : options.files)
        files.append(url.toString(QUrl::FullyEncoded));
    const QJsonObject request{{QStringLiteral("send"), files},
                              {QStringLiteral("generatePassword"), options.generatePassword}};
    socket.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');

    const SendResult noAnswer = SendResult::failure(ErrorKind::Unknown, UserText::instanceSilent());
    std::optional<SendResult> result;
    QEventLoop loop;
    const auto readLines = [&] {
        while (!result && socket.canReadLine()) {
            const QByteArray line = socket.readLine().trimmed();
            if (line == "refused") {
                result = SendResult::failure(
                    ErrorKind::Unknown,
                    QCoreApplication::translate("Commands", "Keine Dateien zum Senden gefunden."));
                break;
            }
            const QJsonObject answer = QJsonDocument::fromJson(line).object();
            if (answer.contains(QStringLiteral("result")))
                result = SendResult::fromJson(answer.value(QStringLiteral("result")).toObject());
            else if (answer.contains(QStringLiteral("progress")))
                progress.show(answer.value(QStringLiteral("progress")).toDouble(),
                              answer.value(QStringLiteral("text")).toString());
        }
        if (result)
            loop.quit();
    };
    QObject::connect(&socket, &QLocalSocket::readyRead, &loop, readLines);
    QObject::connect(&socket, &QLocalSocket::disconnected, &loop, [&] {
        readLines();
        loop.quit();
    });
    if (socket.state() == QLocalSocket::ConnectedState)
        loop.exec();
    else
        readLines();
    return result.value_or(noAnswer);
}

SendResult sendAlone(const Commands::SendOptions& options, ConsoleOutput::ProgressLine& progress) {
    NoDesktopServices desktop;
    HttpEngine http;
    ServerAccount account(http, nullptr, nullptr, desktop);
    // The upload reads the store once, as in the panel: no server set up ends it with that reason.
    // Recorded in the same history the panel lists.
    SentTransfers sent(&account, {});
    Uploads uploads(&account, &sent, desktop);
    const NetworkReturnWatcher networkWatcher(http);
    const auto showProgress = [&] { progress.show(uploads.progress(), uploads.progressText()); };
    QObject::connect(&uploads, &Uploads::progressChanged, showProgress);
    QObject::connect(&uploads, &Uploads::progressTextChanged, showProgress);
    SendResult result;
    QEventLoop loop;
    QObject::connect(&uploads, &Uploads::uploadFinished, &loop,
                     [&](QUuid, const UploadJob::Result& finished) {
                         result = SendResult::fromUpload(finished);
                         loop.quit();
                     });
    if (!uploads.uploadFiles(options.files, std::nullopt, options.generatePassword))
        return SendResult::failure(ErrorKind::Configuration, UserText::noServerURL());
    loop.exec();
    return result;
}

// Columns padded to their widest cell (in characters as a person counts them); the last column
// is not padded.
QString table(const QList<QStringList>& rows) {
    QList<int> widths;
    for (const QStringList& row : rows)
        for (qsizetype i = 0; i < row.size(); ++i) {
            if (widths.size() <= i)
                widths.append(0);
            widths[i] = std::max(widths[i], Graphemes::count(row[i]));
        }
    QString text;
    for (const QStringList& row : rows) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size())
                line += QString(widths[i] - Graphemes::count(row[i]) + 2, QLatin1Char(' '));
        }
        text += line + QLatin1Char('\n');
    }
    return text;
}

// The records as a JSON array in their own member order, or as an aligned table.
template <typename Record, typename RowOf>
ExitCode print(const QList<Record>& records, bool json, const QStringList& header, RowOf rowOf) {
    if (json) {
        OrderedJson array = OrderedJson::array();
        for (const Record& record : records)
            array.append(record.toJson());
        ConsoleOutput::out(QString::fromUtf8(array.toJson(OrderedJson::Format::Pretty)) + QLatin1Char('\n'));
        return ExitCode::Success;
    }
    const bool terminal = ConsoleOutput::isTerminal(stdout);
    QList<QStringList> rows{header};
    for (const Record& record : records)
        rows.append(rowOf(record, terminal));
    ConsoleOutput::out(table(rows));
    return ExitCode::Success;
}

std::optional<ExitCode> refuseUnconfigured(const ServerAccount::Reading& reading) {
    if (const auto missing = SendResult::missingConfiguration(reading))
        return fail(*missing);
    return std::nullopt;
}
} // namespace

namespace Commands {

ExitCode send(const SendOptions& options) {
    ConsoleOutput::ProgressLine progress;
    std::optional<SendResult> result = sendThroughRunningClient(options, progress);
    if (!result)
        result = sendAlone(options, progress);
    progress.clear();
    if (!result->succeeded)
        return fail(*result);
    if (options.json) {
        ConsoleOutput::out(
            QString::fromUtf8(QJsonDocument(result->toJson()).toJson(QJsonDocument::Indented)));
    } else {
        ConsoleOutput::out(result->downloadURL + QLatin1Char('\n'));
        if (result->password)
            ConsoleOutput::out(*result->password + QLatin1Char('\n'));
    }
    return ExitCode::Success;
}

ExitCode list(bool json) {
    NoDesktopServices desktop;
    HttpEngine http;
    ServerAccount account(http, nullptr, nullptr, desktop);
    const ServerAccount::Reading reading = QCoro::waitFor(account.read());
    if (const auto refused = refuseUnconfigured(reading))
        return *refused;
    SentTransfers sent(&account, {});
    QCoro::waitFor(sent.refresh(reading));
    if (const auto failure = sent.refreshFailure())
        return fail(SendResult::failure(failure->kind, failure->text));

    return print(
        sent.transfers(), json,
        {QCoreApplication::translate("Commands", "Name"), QCoreApplication::translate("Commands", "Datum"),
         QCoreApplication::translate("Commands", "Link"),
         QCoreApplication::translate("Commands", "Heruntergeladen")},
        [](const TransferItem& item, bool terminal) -> QStringList {
            return {ConsoleOutput::printable(item.fileName, terminal), Format::dateTime(item.uploadDate),
                    ConsoleOutput::printable(item.downloadURL, terminal),
                    item.downloadedAt ? Format::downloadedAt(*item.downloadedAt) : QStringLiteral("-")};
        });
}

ExitCode inbox(bool json) {
    NoDesktopServices desktop;
    HttpEngine http;
    ServerAccount account(http, nullptr, nullptr, desktop);
    const ServerAccount::Reading reading = QCoro::waitFor(account.read());
    if (const auto refused = refuseUnconfigured(reading))
        return *refused;
    ReceivedUploads received(&account, desktop);
    QCoro::waitFor(received.refresh(reading));
    if (const auto error = received.error())
        return fail(SendResult::failure(ErrorKind::Server, *error));

    return print(
        received.uploads(), json,
        {QCoreApplication::translate("Commands", "Kunde"),
         QCoreApplication::translate("Commands", "Auftragsnummer"),
         QCoreApplication::translate("Commands", "Datum"), QCoreApplication::translate("Commands", "Dateien"),
         QCoreApplication::translate("Commands", "Größe"),
         QCoreApplication::translate("Commands", "Heruntergeladen"),
         QCoreApplication::translate("Commands", "Link")},
        [](const IncomingUpload& upload, bool terminal) -> QStringList {
            const QString size = upload.totalSizeFormatted ? *upload.totalSizeFormatted
                                 : upload.totalSize        ? Format::size(*upload.totalSize)
                                                           : QStringLiteral("-");
            return {ConsoleOutput::printable(upload.customerName, terminal),
                    ConsoleOutput::printable(upload.auftragsnummer.value_or(QStringLiteral("-")), terminal),
                    Format::dayAndTime(upload.uploadDate),
                    QString::number(upload.files.size()),
                    ConsoleOutput::printable(size, terminal),
                    upload.isDownloaded ? QCoreApplication::translate("Commands", "ja")
                                        : QCoreApplication::translate("Commands", "nein"),
                    ConsoleOutput::printable(upload.downloadURL.value_or(QStringLiteral("-")), terminal)};
        });
}

} // namespace Commands
