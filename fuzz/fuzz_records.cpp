// Decodes the server's records from arbitrary JSON: every decoder either returns a record or throws
// an AppError. What the client writes itself (history entries, cached uploads) must decode again.
#include "FuzzCheck.h"
#include "models/AppError.h"
#include "models/IncomingUpload.h"
#include "models/OutgoingResult.h"
#include "models/OutgoingTransfer.h"
#include "models/PasswordResponse.h"
#include "models/RenameResponse.h"
#include "models/TransferItem.h"
#include "models/ZipEntry.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cstddef>
#include <cstdint>

namespace {
using F = IsoDate::Fraction;

template <typename Decode> void attempt(Decode decode) {
    try {
        decode();
    } catch (const AppError&) {
    }
}

// A string survives the trip through UTF-8 only as far as UTF-8 can hold it (no lone surrogates).
QString throughUtf8(const QString& text) {
    return QString::fromUtf8(text.toUtf8());
}

// The written form keeps whole seconds, in UTC.
qint64 wholeSeconds(const QDateTime& date) {
    const qint64 ms = date.toMSecsSinceEpoch();
    return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
}

QJsonObject reread(const OrderedJson& json) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json.toJson(), &error);
    FUZZ_REQUIRE(error.error == QJsonParseError::NoError && document.isObject());
    return document.object();
}

void transferItemRoundTrip(const TransferItem& item) {
    std::optional<TransferItem> again;
    try {
        again = TransferItem::fromJson(reread(item.toJson()), F::Forbidden);
    } catch (const AppError& error) {
        std::fprintf(stderr, "written item does not decode: %s\n", error.what());
        FUZZ_REQUIRE(false);
    }
    FUZZ_REQUIRE(again->id == item.id);
    FUZZ_REQUIRE(again->fileName == throughUtf8(item.fileName));
    FUZZ_REQUIRE(again->code == throughUtf8(item.code));
    FUZZ_REQUIRE(again->downloadURL == throughUtf8(item.downloadURL));
    FUZZ_REQUIRE(wholeSeconds(again->uploadDate) == wholeSeconds(item.uploadDate));
    FUZZ_REQUIRE(again->downloadedAt.has_value() == item.downloadedAt.has_value());
    if (item.downloadedAt)
        FUZZ_REQUIRE(wholeSeconds(*again->downloadedAt) == wholeSeconds(*item.downloadedAt));
    FUZZ_REQUIRE(again->originalFileNames.size() == item.originalFileNames.size());
    FUZZ_REQUIRE(again->hasPassword == item.hasPassword);
    FUZZ_REQUIRE(!again->password);
}

void incomingUploadRoundTrip(const IncomingUpload& upload) {
    std::optional<IncomingUpload> again;
    try {
        again = IncomingUpload::fromJson(reread(upload.toJson()), F::Optional);
    } catch (const AppError& error) {
        std::fprintf(stderr, "written upload does not decode: %s\n", error.what());
        FUZZ_REQUIRE(false);
    }
    FUZZ_REQUIRE(again->token == throughUtf8(upload.token));
    FUZZ_REQUIRE(again->files.size() == upload.files.size());
    for (qsizetype i = 0; i < upload.files.size(); ++i)
        FUZZ_REQUIRE(again->files[i].size == upload.files[i].size);
    FUZZ_REQUIRE(wholeSeconds(again->uploadDate) == wholeSeconds(upload.uploadDate));
    FUZZ_REQUIRE(again->isDownloaded == upload.isDownloaded);
    FUZZ_REQUIRE(again->totalSize == upload.totalSize);
}

void decodeObject(const QJsonObject& object) {
    for (const F dates : {F::Forbidden, F::Optional}) {
        attempt([&] { transferItemRoundTrip(TransferItem::fromJson(object, dates)); });
        attempt([&] { incomingUploadRoundTrip(IncomingUpload::fromJson(object, dates)); });
    }
    attempt([&] { IncomingFile::fromJson(object); });
    attempt([&] { OutgoingTransfer::fromJson(object).primaryZipEntries(); });
    attempt([&] { APIService::OutgoingResult::fromJson(object); });
    attempt([&] { APIService::OutgoingFileInfo::fromJson(object); });
    attempt([&] { APIService::ZipEntry::fromJson(object); });
    attempt([&] { APIService::PasswordResponse::fromJson(object); });
    attempt([&] { APIService::RenameResponse::fromJson(object); });
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (document.isObject()) {
        decodeObject(document.object());
    } else if (document.isArray()) {
        // The lists (uploads, transfers, the history file) hold one record per element.
        for (const QJsonValue& element : document.array()) {
            if (element.isObject())
                decodeObject(element.toObject());
        }
    }
    return 0;
}
