#include "services/APIServiceOutgoing.h"

#include "models/APIError.h"
#include "models/OrderedJson.h"
#include "models/PlatformError.h"
#include "models/UserText.h"
#include "services/APIRequest.h"
#include "services/APIService.h"
#include "services/OffMainThread.h"

#include <QCoreApplication>
#include <QJsonArray>

namespace APIService {

namespace {
const QByteArray jsonContentType = QByteArrayLiteral("application/json");

QByteArray transferPath(const QString& code) {
    return QByteArrayLiteral("/api/outgoing/") + escapePathSegment(code);
}

[[noreturn]] void throwWrongShape() {
    throw PlatformError(UserText::unreadableData());
}

QJsonObject jsonObject(const QByteArray& body) {
    const QJsonValue value = parseJSON(body);
    if (!value.isObject())
        throwWrongShape();
    return value.toObject();
}
} // namespace

QCoro::Task<QList<OutgoingTransfer>> fetchOutgoing(ServerConnection server) {
    const QByteArray path = QByteArrayLiteral("/api/outgoing");
    const APIRequest request = APIRequest::make(server, path);
    const APIResponse response = co_await request.send(QByteArrayLiteral("GET"));
    if (!response.isHttp(200))
        throw APIError::networkError(
            QCoreApplication::translate("APIServiceOutgoing", "Fehler beim Laden der Transfers"));
    // Thousands of transfers take longer to read than the panel may stand still.
    std::function<QList<OutgoingTransfer>()> decode = [body = response.body] {
        QList<OutgoingTransfer> transfers;
        try {
            if (forEachListedObject(body, [&](const QJsonObject& element) {
                    transfers.append(OutgoingTransfer::fromJson(element));
                })) {
                transfers.squeeze(); // kept for as long as it is shown
                return transfers;
            }
        } catch (const std::exception&) {
            // read whole below, which says what is wrong
        }
        transfers = {};
        {
            const QJsonValue list = parseJSON(body);
            if (!list.isArray())
                throwWrongShape();
            for (const QJsonValue& element : list.toArray()) {
                if (!element.isObject())
                    throwWrongShape();
                transfers.append(OutgoingTransfer::fromJson(element.toObject()));
            }
        }
        return transfers;
    };
    auto decoded = co_await offMainThread(std::move(decode));
    returnFreedMemory();
    co_return decoded;
}

QCoro::Task<PasswordResponse> revealOutgoingPassword(ServerConnection server, QString code) {
    const QByteArray path = transferPath(code) + QByteArrayLiteral("/password");
    const APIRequest request = APIRequest::make(server, path);
    const APIResponse response = co_await request.send(QByteArrayLiteral("GET"));
    expectJSONOK(response);
    co_return PasswordResponse::fromJson(jsonObject(response.body));
}

QCoro::Task<PasswordResponse> updateOutgoingPassword(ServerConnection server, QString code,
                                                     PasswordAction action) {
    const QByteArray path = transferPath(code) + QByteArrayLiteral("/password");
    const APIRequest request = APIRequest::make(server, path);
    const APIResponse response =
        co_await request.send(QByteArrayLiteral("PATCH"), action.patchBody().toJson(), jsonContentType);
    expectJSONOK(response);
    co_return PasswordResponse::fromJson(jsonObject(response.body));
}

QCoro::Task<RenameResponse> renameOutgoingFile(ServerConnection server, QString code, QString oldName,
                                               QString newName) {
    const QByteArray path = transferPath(code) + QByteArrayLiteral("/files");
    const APIRequest request = APIRequest::make(server, path);
    OrderedJson body = OrderedJson::object();
    body.insert(QStringLiteral("oldName"), oldName).insert(QStringLiteral("newName"), newName);
    const APIResponse response =
        co_await request.send(QByteArrayLiteral("PATCH"), body.toJson(), jsonContentType);
    expectJSONOK(response);
    co_return RenameResponse::fromJson(jsonObject(response.body));
}

QCoro::Task<> deleteOutgoing(ServerConnection server, QString code) {
    const QByteArray path = transferPath(code);
    const APIRequest request = APIRequest::make(server, path);
    const APIResponse response = co_await request.send(QByteArrayLiteral("DELETE"));
    if (!response.isHttp(200) && !response.isHttp(204) && !response.isHttp(404))
        throw APIError::networkError(UserText::deleteFailed());
}

QCoro::Task<QString> downloadOutgoingFile(ServerConnection server, QString code, QString fileName,
                                          QString folder) {
    const QByteArray path = QByteArrayLiteral("/d/") + escapePathSegment(code) + QByteArrayLiteral("/file/") +
                            escapePathSegment(fileName);
    const APIRequest request = APIRequest::make(server, path);
    const APIResponse response = co_await downloadInto(request, folder, fileName);
    if (*response.status != 200)
        throw APIError::networkError(
            QCoreApplication::translate("APIServiceOutgoing", "Download fehlgeschlagen (HTTP %1)")
                .arg(*response.status));
    co_return response.filePath;
}

} // namespace APIService
