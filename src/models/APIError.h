#pragma once

#include "AppError.h"
#include "UserText.h"

// Errors of the server client, with the German descriptions the user sees.
class APIError : public AppError {
public:
    enum class Kind { HttpError, NetworkError, NoServerURL, NoAPIKey, InvalidAPIKey };

    static APIError httpError(int status, const QString& message) {
        return APIError(Kind::HttpError, status, message, UserText::serverError(status, message));
    }
    static APIError networkError(const QString& message) {
        return APIError(Kind::NetworkError, 0, message, UserText::networkError(message));
    }
    static APIError noServerURL() { return APIError(Kind::NoServerURL, 0, {}, UserText::noServerURL()); }
    static APIError noAPIKey() { return APIError(Kind::NoAPIKey, 0, {}, UserText::noAPIKey()); }
    // A line break or NUL would end the key's header and start another one.
    static APIError invalidAPIKey() {
        return APIError(Kind::InvalidAPIKey, 0, {}, UserText::invalidAPIKey());
    }

    Kind kind() const { return m_kind; }
    int statusCode() const { return m_status; }
    QString serverMessage() const { return m_message; }

private:
    APIError(Kind kind, int status, QString message, QString description)
        : AppError(std::move(description)), m_kind(kind), m_status(status), m_message(std::move(message)) {}

    Kind m_kind;
    int m_status;
    QString m_message;
};
