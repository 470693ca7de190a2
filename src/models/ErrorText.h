#pragma once

#include <QString>
#include <exception>

// What went wrong, by kind, so callers decide on outcomes without reading the text.
enum class ErrorKind { Cancelled, Server, Network, Configuration, Zip, Keychain, Update, Platform, Unknown };

struct ErrorText {
    ErrorKind kind = ErrorKind::Unknown;
    QString text; // what the user sees
};

// The one place that turns a caught exception into the user's text: an AppError's message, any
// other exception's what().
ErrorText describeError(const std::exception& error);
