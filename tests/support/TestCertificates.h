#pragma once

#include "DevServer.h"
#include "TestFiles.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <type_traits>

// A certificate authority and its leaves made with OpenSSL, for servers whose
// certificate the client must judge: trusted, for another host, expired.
namespace TestCertificates {
template <auto Free> struct Deleter {
    template <typename T> void operator()(T* p) const { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO_free_all>>;
using ExtPtr = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION_free>>;

// What a leaf is made for, and when it is valid (seconds from now).
struct LeafOptions {
    const char* subjectAltName = "DNS:localhost,IP:127.0.0.1";
    long notBefore = -3600;
    long notAfter = 24 * 3600;
};

// The usual pin form, computed with OpenSSL rather than Qt: base64 of the
// SHA-256 of the certificate's DER SubjectPublicKeyInfo.
inline QByteArray spkiPin(const QByteArray& certificatePem) {
    BioPtr bio(BIO_new_mem_buf(certificatePem.constData(), int(certificatePem.size())));
    CertPtr cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    if (!cert)
        return {};
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(X509_get0_pubkey(cert.get()), &der);
    const QByteArray spki(reinterpret_cast<const char*>(der), length);
    OPENSSL_free(der);
    return QCryptographicHash::hash(spki, QCryptographicHash::Sha256).toBase64();
}

inline bool addExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    ExtPtr extension(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
    return extension && X509_add_ext(cert, extension.get(), -1) == 1;
}

// A CA when `issuer` is null, else a server certificate signed by it.
inline CertPtr makeCertificate(EVP_PKEY* key, const char* commonName, long serial, X509* issuer,
                               EVP_PKEY* issuerKey, const LeafOptions& leaf = {}) {
    CertPtr cert(X509_new());
    X509_set_version(cert.get(), X509_VERSION_3);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), leaf.notBefore);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), leaf.notAfter);
    X509_set_pubkey(cert.get(), key);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(cert.get()), "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
    const bool isCA = issuer == nullptr;
    X509* signer = isCA ? cert.get() : issuer;
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
    const bool ok = isCA ? addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE") &&
                               addExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign")
                         : addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE") &&
                               addExtension(cert.get(), signer, NID_subject_alt_name, leaf.subjectAltName) &&
                               addExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
    if (!ok || X509_sign(cert.get(), isCA ? key : issuerKey, EVP_sha256()) == 0)
        return {};
    return cert;
}

// A certificate or a private key in PEM form.
template <typename T> QByteArray pem(T* item) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    if constexpr (std::is_same_v<T, X509>)
        PEM_write_bio_X509(bio.get(), item);
    else
        PEM_write_bio_PrivateKey(bio.get(), item, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, int(length));
}

// A server with a fresh key and a leaf the CA signs, on `port` (0: any); its certificate is written
// to `path` + ".pem". Null when it cannot start.
inline std::unique_ptr<DevServer> serverSignedBy(X509* ca, EVP_PKEY* caKey, const QString& path,
                                                 const LeafOptions& leaf = {}, int port = 0) {
    static long serial = 1;
    KeyPtr key(EVP_EC_gen("P-256"));
    CertPtr cert = makeCertificate(key.get(), "Zanvolt Test", ++serial, ca, caKey, leaf);
    if (!cert)
        return {};
    DevServer::Options options;
    options.port = port;
    options.certificatePath = path + QStringLiteral(".pem");
    options.keyPath = path + QStringLiteral("-key.pem");
    writeFile(options.certificatePath, pem(cert.get()));
    writeFile(options.keyPath, pem(key.get()));
    auto server = std::make_unique<DevServer>(options);
    return server->start() ? std::move(server) : nullptr;
}
} // namespace TestCertificates
