#pragma once

#include <QJsonObject>
#include <QString>
#include <optional>

namespace APIService {

// The server's answer to renaming a file of a transfer. Nothing relies on its members.
struct RenameResponse {
    std::optional<QString> status;
    std::optional<QString> oldName;
    std::optional<QString> newName;

    // Throws PlatformError when a member has the wrong type.
    static RenameResponse fromJson(const QJsonObject& object);

    bool operator==(const RenameResponse&) const = default;
};

} // namespace APIService
