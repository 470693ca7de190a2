#pragma once

#include "PlatformError.h"

// A request that brought no complete answer. The text is the transport's own
// unless the app has a clearer German one for the case.
class HttpError : public PlatformError {
public:
    enum class Kind {
        Transport,          // connection, TLS or protocol failure, cut-off body
        Timeout,            // nothing moved for the inactivity limit
        CertificateChanged, // the server's key differs from the one it was trusted with
        ResponseTooLarge,
        FileChanged, // the file being sent shrank while it was read
        FileSystem,  // reading the body or writing the download failed
    };

    HttpError(Kind kind, QString text) : PlatformError(std::move(text)), m_kind(kind) {}
    Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};
