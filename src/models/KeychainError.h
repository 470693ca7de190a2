#pragma once

#include "AppError.h"
#include "UserText.h"

// A failed save of the credentials, or a store that could not be read (locked, refused or
// absent), with the secret store's status code and what the store said about it.
class KeychainError : public AppError {
public:
    static KeychainError saveFailed(int status, const QString& said = {}) {
        return KeychainError(status, UserText::keychainFailure(reason(status, said)));
    }
    static KeychainError unavailable(int status, const QString& said = {}) {
        return KeychainError(status, UserText::keychainUnavailable(reason(status, said)));
    }

    int status() const { return m_status; }

private:
    KeychainError(int status, QString text) : AppError(std::move(text)), m_status(status) {}
    // The store's own words; its status number only when it said nothing.
    static QString reason(int status, const QString& said) {
        return said.isEmpty() ? QString::number(status) : said;
    }

    int m_status;
};
