#pragma once

#include "AppError.h"

// A failed save of the credentials, or a store that could not be read (locked, refused or
// absent), with the secret store's status code.
class KeychainError : public AppError {
public:
    static KeychainError saveFailed(int status) { return KeychainError(status); }
    static KeychainError unavailable(int status) {
        return KeychainError(status,
                             QStringLiteral("Der Schlüsselbund ist gesperrt oder nicht erreichbar "
                                            "(Keychain-Fehler: %1). Die gespeicherten Einstellungen bleiben "
                                            "erhalten.")
                                 .arg(status));
    }

    int status() const { return m_status; }

private:
    explicit KeychainError(int status)
        : AppError(QStringLiteral("Keychain-Fehler: %1").arg(status)), m_status(status) {}
    KeychainError(int status, QString text) : AppError(std::move(text)), m_status(status) {}

    int m_status;
};
