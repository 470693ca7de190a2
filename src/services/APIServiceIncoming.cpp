#include "services/APIServiceIncoming.h"

#include "models/APIError.h"
#include "models/PlatformError.h"
#include "models/UserText.h"
#include "services/APIRequest.h"
#include "services/APIService.h"
#include "services/OffMainThread.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QSet>
#include <QStandardPaths>
#include <QStringDecoder>

namespace {
QByteArray uploadPath(const QString& token) {
    return QByteArrayLiteral("/api/incoming/") + APIService::escapePathSegment(token);
}

// The whole body as text; a body that is not UTF-8 gives the empty text.
QString bodyText(const QByteArray& body) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(body);
    return decoder.hasError() ? QString() : text;
}

// Sizes ("120,6 KB") and senders repeat across thousands of uploads: each text is kept once and
// shared. Done per upload as it is read, so a copy it replaces is freed before the next is made.
class RepeatedTexts {
public:
    IncomingUpload shared(IncomingUpload upload) {
        share(upload.customerName);
        if (upload.totalSizeFormatted)
            share(*upload.totalSizeFormatted);
        for (IncomingFile& file : upload.files)
            share(file.sizeFormatted);
        return upload;
    }

private:
    void share(QString& text) { text = *m_texts.insert(text); }

    QSet<QString> m_texts;
};

} // namespace

namespace APIService {

QString incomingFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::DownloadLocation) +
           QStringLiteral("/Zanvolt-Eingang");
}

QCoro::Task<QList<IncomingUpload>> fetchIncoming(ServerConnection server) {
    const QByteArray path = QByteArrayLiteral("/api/incoming");
    const APIRequest request = APIRequest::make(server, path);
    const APIResponse response = co_await request.send(QByteArrayLiteral("GET"));
    if (!response.status)
        throw APIError::networkError(UserText::noHttpAnswer());
    if (*response.status != 200)
        throw APIError::httpError(*response.status, bodyText(response.body));

    // Thousands of uploads take longer to read than the panel may stand still.
    std::function<QList<IncomingUpload>()> decode = [body = response.body] {
        QList<IncomingUpload> uploads;
        RepeatedTexts texts;
        try {
            if (forEachListedObject(body, [&](const QJsonObject& element) {
                    uploads.append(
                        texts.shared(IncomingUpload::fromJson(element, IsoDate::Fraction::Optional)));
                })) {
                uploads.squeeze(); // kept for as long as it is shown
                return uploads;
            }
        } catch (const std::exception&) {
            // read whole below, which says what is wrong
        }
        uploads = {};
        {
            const QJsonValue document = parseJSON(body);
            if (!document.isArray())
                throw PlatformError(UserText::unreadableData());
            for (const QJsonValue& element : document.toArray()) {
                if (!element.isObject())
                    throw PlatformError(UserText::unreadableData());
                uploads.append(IncomingUpload::fromJson(element.toObject(), IsoDate::Fraction::Optional));
            }
        }
        return uploads;
    };
    auto decoded = co_await offMainThread(std::move(decode));
    returnFreedMemory();
    co_return decoded;
}

QCoro::Task<QString> downloadFile(ServerConnection server, QString token, QString fileName) {
    const QByteArray path = uploadPath(token) + QByteArrayLiteral("/files/") + escapePathSegment(fileName);
    const APIRequest request = APIRequest::make(server, path);
    const QString inbox = incomingFolder();
    const APIResponse response = co_await downloadInto(request, inbox, fileName);
    if (!response.isHttp(200))
        throw APIError::networkError(UserText::downloadFailed());
    co_return response.filePath;
}

QCoro::Task<> markAsDownloaded(ServerConnection server, QString token) {
    const QByteArray path = uploadPath(token) + QByteArrayLiteral("/downloaded");
    const APIRequest request = APIRequest::make(server, path);
    const APIResponse response = co_await request.send(QByteArrayLiteral("POST"));
    if (!response.isHttp(200))
        throw APIError::networkError(
            QCoreApplication::translate("APIServiceIncoming", "Markierung fehlgeschlagen"));
}

QCoro::Task<> deleteIncoming(ServerConnection server, QString token) {
    const QByteArray path = uploadPath(token);
    const APIRequest request = APIRequest::make(server, path);
    const APIResponse response = co_await request.send(QByteArrayLiteral("DELETE"));
    if (!response.isHttp(200) && !response.isHttp(204) && !response.isHttp(404))
        throw APIError::networkError(UserText::deleteFailed());
}

} // namespace APIService
