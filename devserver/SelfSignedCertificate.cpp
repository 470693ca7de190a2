#include "SelfSignedCertificate.h"

#include <QFile>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace {

template <auto Free> struct Deleter {
    template <typename T> void operator()(T* p) const { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO_free_all>>;
using ExtPtr = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION_free>>;
using BnPtr = std::unique_ptr<BIGNUM, Deleter<BN_free>>;

QString opensslError(const char* what) {
    char text[256] = {};
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    return QStringLiteral("%1: %2").arg(QLatin1StringView(what), QLatin1StringView(text));
}

bool addExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    ExtPtr extension(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
    return extension && X509_add_ext(cert, extension.get(), -1) == 1;
}

} // namespace

bool SelfSignedCertificate::create(const QString& certificatePath, const QString& keyPath, QString* error) {
    KeyPtr key(EVP_EC_gen("P-256"));
    CertPtr cert(X509_new());
    if (!key || !cert) {
        *error = opensslError("key generation");
        return false;
    }
    BnPtr serial(BN_new());
    if (!serial || !BN_rand(serial.get(), 64, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) ||
        !BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert.get()))) {
        *error = opensslError("serial number");
        return false;
    }
    X509_set_version(cert.get(), X509_VERSION_3);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -24 * 3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3650L * 24 * 3600);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Zanvolt"),
                               -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("localhost"),
                               -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    if (!addExtension(cert.get(), NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1,IP:::1") ||
        !addExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE") ||
        !addExtension(cert.get(), NID_ext_key_usage, "serverAuth") ||
        X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) {
        *error = opensslError("certificate");
        return false;
    }

    const QByteArray keyFile = QFile::encodeName(keyPath);
    QFile::remove(keyPath);
    {
        // Created owner-only before the key is in it.
        QFile placeholder(keyPath);
        if (!placeholder.open(QIODevice::WriteOnly) ||
            !placeholder.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
            *error = QStringLiteral("%1: %2").arg(keyPath, placeholder.errorString());
            return false;
        }
    }
    BioPtr keyBio(BIO_new_file(keyFile.constData(), "w"));
    if (!keyBio ||
        !PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr)) {
        *error = opensslError("writing the key");
        return false;
    }
    keyBio.reset();
    BioPtr certBio(BIO_new_file(QFile::encodeName(certificatePath).constData(), "w"));
    if (!certBio || !PEM_write_bio_X509(certBio.get(), cert.get())) {
        *error = opensslError("writing the certificate");
        return false;
    }
    return true;
}
