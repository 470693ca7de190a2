#include "cli/SendResult.h"

#include "models/UserText.h"

#include <QJsonValue>
#include <array>
#include <utility>

namespace {
constexpr std::array<std::pair<ErrorKind, const char*>, 9> kindNames{{
    {ErrorKind::Cancelled, "cancelled"},
    {ErrorKind::Server, "server"},
    {ErrorKind::Network, "network"},
    {ErrorKind::Configuration, "configuration"},
    {ErrorKind::Zip, "zip"},
    {ErrorKind::Keychain, "keychain"},
    {ErrorKind::Update, "update"},
    {ErrorKind::Platform, "platform"},
    {ErrorKind::Unknown, "unknown"},
}};

QString kindName(ErrorKind kind) {
    for (const auto& [each, name] : kindNames)
        if (each == kind)
            return QString::fromLatin1(name);
    return QStringLiteral("unknown");
}

ErrorKind kindNamed(const QString& text) {
    for (const auto& [kind, name] : kindNames)
        if (text == QLatin1String(name))
            return kind;
    return ErrorKind::Unknown;
}
} // namespace

ExitCode exitCodeFor(ErrorKind kind) {
    switch (kind) {
    case ErrorKind::Configuration:
    case ErrorKind::Keychain:
        return ExitCode::Configuration;
    case ErrorKind::Server:
    case ErrorKind::Network:
    case ErrorKind::Platform: // the server's answer could not be read
        return ExitCode::Server;
    case ErrorKind::Zip:
        return ExitCode::LocalFile;
    case ErrorKind::Cancelled:
    case ErrorKind::Update:
    case ErrorKind::Unknown:
        break;
    }
    return ExitCode::Failure;
}

SendResult SendResult::fromUpload(const UploadJob::Result& result) {
    SendResult sent;
    sent.succeeded = result.outcome == UploadJob::Result::Outcome::Succeeded;
    if (result.outcome == UploadJob::Result::Outcome::Cancelled) {
        sent.errorKind = ErrorKind::Cancelled;
        sent.errorText = UserText::uploadCancelled();
    } else if (!sent.succeeded) {
        sent.errorKind = result.errorKind;
        sent.errorText = result.errorText.isEmpty() ? UserText::uploadFailed() : result.errorText;
    }
    sent.fileName = result.fileName;
    sent.code = result.response.code;
    sent.downloadURL = result.response.downloadURL;
    sent.password = result.response.password;
    return sent;
}

std::optional<SendResult> SendResult::missingConfiguration(const ServerAccount::Reading& reading) {
    if (reading.failure)
        return failure(ErrorKind::Keychain, reading.problem);
    if (reading.state == ServerAccount::State::NotConfigured)
        return failure(ErrorKind::Configuration, reading.problem);
    return std::nullopt;
}

SendResult SendResult::failure(ErrorKind kind, const QString& text) {
    SendResult sent;
    sent.errorKind = kind;
    sent.errorText = text;
    return sent;
}

QJsonObject SendResult::toJson() const {
    if (!succeeded)
        return {{QStringLiteral("error"), errorText}, {QStringLiteral("kind"), kindName(errorKind)}};
    return {{QStringLiteral("fileName"), fileName},
            {QStringLiteral("code"), code},
            {QStringLiteral("downloadURL"), downloadURL},
            {QStringLiteral("password"), password ? QJsonValue(*password) : QJsonValue()}};
}

SendResult SendResult::fromJson(const QJsonObject& object) {
    if (object.value(QStringLiteral("error")).isString())
        return failure(kindNamed(object.value(QStringLiteral("kind")).toString()),
                       object.value(QStringLiteral("error")).toString());
    SendResult sent;
    sent.fileName = object.value(QStringLiteral("fileName")).toString();
    sent.code = object.value(QStringLiteral("code")).toString();
    sent.downloadURL = object.value(QStringLiteral("downloadURL")).toString();
    if (const QJsonValue password = object.value(QStringLiteral("password")); password.isString())
        sent.password = password.toString();
    sent.succeeded = !sent.downloadURL.isEmpty();
    if (!sent.succeeded)
        return failure(ErrorKind::Unknown, UserText::instanceSilent());
    return sent;
}

ExitCode SendResult::exitCode() const {
    return succeeded ? ExitCode::Success : exitCodeFor(errorKind);
}
