#include "models/ErrorText.h"

#include "models/APIError.h"
#include "models/CancelledError.h"
#include "models/KeychainError.h"
#include "models/PlatformError.h"
#include "models/UpdaterError.h"
#include "models/ZipError.h"

namespace {
ErrorKind kindOf(const std::exception& error) {
    if (dynamic_cast<const CancelledError*>(&error))
        return ErrorKind::Cancelled;
    if (const auto* api = dynamic_cast<const APIError*>(&error)) {
        switch (api->kind()) {
        case APIError::Kind::HttpError:
            return ErrorKind::Server;
        case APIError::Kind::NetworkError:
            return ErrorKind::Network;
        case APIError::Kind::NoServerURL:
        case APIError::Kind::NoAPIKey:
        case APIError::Kind::InvalidAPIKey:
            return ErrorKind::Configuration;
        }
    }
    if (dynamic_cast<const ZipError*>(&error))
        return ErrorKind::Zip;
    if (dynamic_cast<const KeychainError*>(&error))
        return ErrorKind::Keychain;
    if (dynamic_cast<const UpdaterError*>(&error))
        return ErrorKind::Update;
    if (dynamic_cast<const PlatformError*>(&error))
        return ErrorKind::Platform;
    return ErrorKind::Unknown;
}
} // namespace

ErrorText describeError(const std::exception& error) {
    const auto* appError = dynamic_cast<const AppError*>(&error);
    return {kindOf(error), appError ? appError->message() : QString::fromUtf8(error.what())};
}
