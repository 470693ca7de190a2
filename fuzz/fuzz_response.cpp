// The request core's handling of an answer, without the network: the common JSON check, the excerpt
// used in error texts, the JSON parse and the decoding that follows it at each endpoint.
// Input: the status line ("200", or "-" for an answer that was not HTTP), "\n", then the body.
#include "FuzzCheck.h"
#include "models/APIError.h"
#include "models/Graphemes.h"
#include "models/IncomingUpload.h"
#include "models/JsonFields.h"
#include "models/OutgoingResult.h"
#include "models/OutgoingTransfer.h"
#include "models/PasswordResponse.h"
#include "models/PlatformError.h"
#include "models/RenameResponse.h"
#include "services/APIResponse.h"
#include "services/APIService.h"

#include <QJsonArray>
#include <QStringDecoder>
#include <cstddef>
#include <cstdint>

namespace {
template <typename Decode> void attempt(Decode decode) {
    try {
        decode();
    } catch (const AppError&) {
    }
}

void checkExcerpt(const QByteArray& body, int characters) {
    const QString cut = APIService::excerpt(body, characters);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(body);
    if (decoder.hasError()) {
        FUZZ_REQUIRE(cut.isEmpty());
        return;
    }
    FUZZ_REQUIRE(text.startsWith(cut));
    const int counted = Graphemes::count(cut);
    FUZZ_REQUIRE(counted <= characters);
    // Shorter than the whole text only when the limit was reached.
    FUZZ_REQUIRE(cut.size() == text.size() || counted == characters);
}

void checkJSONOK(const APIResponse& response) {
    try {
        APIService::expectJSONOK(response);
    } catch (const APIError& error) {
        if (!response.status) {
            FUZZ_REQUIRE(error.kind() == APIError::Kind::NetworkError);
        } else if (*response.status != 200) {
            FUZZ_REQUIRE(error.kind() == APIError::Kind::HttpError);
            FUZZ_REQUIRE(error.statusCode() == *response.status);
            FUZZ_REQUIRE(error.serverMessage() == APIService::excerpt(response.body, 500));
        } else {
            FUZZ_REQUIRE(error.kind() == APIError::Kind::NetworkError);
            FUZZ_REQUIRE(!response.body.isEmpty() && response.body.front() != '{' &&
                         response.body.front() != '[');
        }
        return;
    }
    FUZZ_REQUIRE(response.isHttp(200));
    FUZZ_REQUIRE(response.body.isEmpty() || response.body.front() == '{' || response.body.front() == '[');
}

// What the endpoints do with a body that passed the check.
void decode(const QByteArray& body) {
    QJsonValue value;
    try {
        value = APIService::parseJSON(body);
    } catch (const PlatformError&) {
        return;
    }
    FUZZ_REQUIRE(value.isArray() || value.isObject());
    if (value.isArray()) {
        for (const QJsonValue& element : value.toArray()) {
            if (!element.isObject())
                continue;
            attempt([&] { IncomingUpload::fromJson(element.toObject(), IsoDate::Fraction::Optional); });
            attempt([&] { OutgoingTransfer::fromJson(element.toObject()).primaryZipEntries(); });
        }
        return;
    }
    const QJsonObject object = value.toObject();
    attempt([&] { JsonFields(object).string(QStringLiteral("token")); });
    attempt([&] { APIService::PasswordResponse::fromJson(object); });
    attempt([&] { APIService::RenameResponse::fromJson(object); });
    try {
        APIService::OutgoingResult::fromJson(object);
    } catch (const PlatformError&) {
        // The upload reports an unreadable answer with the start of the body.
        const QString text = QStringLiteral("Antwort unlesbar: ") + APIService::excerpt(body, 200);
        FUZZ_REQUIRE(!text.isEmpty());
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype newline = input.indexOf('\n');
    if (newline < 0)
        return 0;
    APIResponse response;
    const QByteArray statusLine = input.left(newline);
    if (statusLine != "-") {
        bool ok = false;
        const int status = statusLine.toInt(&ok);
        if (!ok)
            return 0;
        response.status = status;
    }
    response.body = input.mid(newline + 1);

    checkJSONOK(response);
    for (const int characters : {0, 1, 200, 500})
        checkExcerpt(response.body, characters);
    if (response.isHttp(200))
        decode(response.body);
    return 0;
}
