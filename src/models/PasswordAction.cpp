#include "models/PasswordAction.h"

#include "models/OrderedJson.h"

namespace APIService {

QByteArray PasswordAction::PatchBody::toJson() const {
    OrderedJson json = OrderedJson::object();
    if (explicitNull)
        json.insert(QStringLiteral("password"), OrderedJson::null());
    else if (password)
        json.insert(QStringLiteral("password"), *password);
    if (generate)
        json.insert(QStringLiteral("generate"), *generate);
    return json.toJson();
}

PasswordAction::PatchBody PasswordAction::patchBody() const {
    switch (m_kind) {
    case Kind::Generate:
        return PatchBody{std::nullopt, true, false};
    case Kind::Remove:
        return PatchBody{std::nullopt, std::nullopt, true};
    case Kind::Set:
        break;
    }
    return PatchBody{m_password, std::nullopt, false};
}

} // namespace APIService
