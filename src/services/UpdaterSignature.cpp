#include "services/UpdaterSignature.h"

#include <QCryptographicHash>
#include <memory>
#include <openssl/evp.h>
#include <optional>

namespace {
std::optional<QByteArray> decoded(const QByteArray& base64, qsizetype expectedSize) {
    const auto result =
        QByteArray::fromBase64Encoding(base64.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!result || result.decoded.size() != expectedSize)
        return std::nullopt;
    return result.decoded;
}
} // namespace

bool UpdaterSignature::verify(QByteArrayView data, const QByteArray& signatureBase64,
                              const QByteArray& publicKeyBase64) {
    const auto key = decoded(publicKeyBase64, 32);
    const auto signature = decoded(signatureBase64, 64);
    if (!key || !signature)
        return false;
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> publicKey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                    reinterpret_cast<const unsigned char*>(key->constData()), key->size()),
        &EVP_PKEY_free);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!publicKey || !context)
        return false;
    // Ed25519 hashes internally and takes no digest: the message goes in whole.
    if (EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, publicKey.get()) != 1)
        return false;
    return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature->constData()),
                            signature->size(), reinterpret_cast<const unsigned char*>(data.data()),
                            data.size()) == 1;
}

QByteArray UpdaterSignature::signedMessage(const QString& version, QByteArrayView file) {
    return QByteArrayLiteral("Zanvolt-Update ") + version.toUtf8() + '\n' +
           QCryptographicHash::hash(file, QCryptographicHash::Sha512).toHex() + '\n';
}
