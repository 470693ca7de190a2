#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The text of bytes that must be UTF-8; nothing when any sequence is invalid (no replacement
// characters slip into a message the user reads).
std::optional<QString> decodeUtf8Strict(const QByteArray& bytes);
