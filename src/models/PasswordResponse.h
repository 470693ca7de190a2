#pragma once

#include <QJsonObject>
#include <QString>
#include <optional>

namespace APIService {

// The server's answer to reading or changing a transfer's password.
struct PasswordResponse {
    QString code;
    bool hasPassword = false;
    std::optional<QString> password; // clear text; absent when there is none

    // Throws PlatformError when a required member is missing or any member has the wrong type.
    static PasswordResponse fromJson(const QJsonObject& object);

    bool operator==(const PasswordResponse&) const = default;
};

} // namespace APIService
