#pragma once

#include "AppError.h"

// A failed save of the credentials, with the secret store's status code.
class KeychainError : public AppError {
public:
    static KeychainError saveFailed(int status) { return KeychainError(status); }

    int status() const { return m_status; }

private:
    explicit KeychainError(int status)
        : AppError(QStringLiteral("Keychain-Fehler: %1").arg(status)), m_status(status) {}

    int m_status;
};
