#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace APIService {

// What to do with a transfer's password: let the server generate one, remove
// it, or set a given one.
class PasswordAction {
public:
    enum class Kind { Generate, Remove, Set };

    // The PATCH body. Absent members are left out, never written as null: an
    // explicit null is how the server tells "remove" from "leave unchanged".
    struct PatchBody {
        std::optional<QString> password;
        std::optional<bool> generate;
        bool explicitNull = false;

        QByteArray toJson() const;
    };

    static PasswordAction generate() { return PasswordAction(Kind::Generate, {}); }
    static PasswordAction remove() { return PasswordAction(Kind::Remove, {}); }
    static PasswordAction set(QString password) { return PasswordAction(Kind::Set, std::move(password)); }

    Kind kind() const { return m_kind; }
    PatchBody patchBody() const;

private:
    PasswordAction(Kind kind, QString password) : m_kind(kind), m_password(std::move(password)) {}

    Kind m_kind;
    QString m_password; // only for Set
};

} // namespace APIService
