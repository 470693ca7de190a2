#pragma once

#include "HttpRequest.h"
#include "PlatformError.h"

#include <optional>

// A request that brought no complete answer: its kind, and libcurl's code and the system's error
// number where they caused it. The text, from UserText, names the cause and where it arose.
class HttpError : public PlatformError {
public:
    enum class Kind {
        Transport,          // protocol failure or anything else the line did not cause
        Network,            // no connection, refused or reset, name unresolved, TLS broken off, cut-off body
        Timeout,            // nothing moved for the inactivity limit
        CertificateChanged, // the server's key differs from the one it was trusted with
        ResponseTooLarge,
        FileChanged, // the file being sent shrank while it was read
        FileSystem,  // reading the body or writing the download failed
    };

    HttpError(Kind kind, QString text, int curlCode = 0, int systemError = 0)
        : PlatformError(std::move(text)), m_kind(kind), m_curlCode(curlCode), m_systemError(systemError) {}
    Kind kind() const { return m_kind; }
    int curlCode() const { return m_curlCode; }       // 0: libcurl reported no failure
    int systemError() const { return m_systemError; } // errno, 0 when none
    // The line failed, not the server: worth waiting for and trying again.
    bool isNetworkFailure() const { return m_kind == Kind::Network || m_kind == Kind::Timeout; }

    // A download cut off by a network failure: what it kept, for a request of the rest. The
    // ".part" file is then the catcher's to continue or remove.
    std::optional<HttpRequest::Resume> partial;

private:
    Kind m_kind;
    int m_curlCode;
    int m_systemError;
};
