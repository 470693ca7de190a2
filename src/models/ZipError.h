#pragma once

#include "AppError.h"

// Errors of packing several items into one archive.
class ZipError : public AppError {
public:
    enum class Kind { ZipFailed, NoFiles };

    static ZipError zipFailed(const QString& message) {
        return ZipError(Kind::ZipFailed, message,
                        QStringLiteral("ZIP-Erstellung fehlgeschlagen: ") + message);
    }
    static ZipError noFiles() {
        return ZipError(Kind::NoFiles, {}, QStringLiteral("Keine Dateien zum Zippen"));
    }

    Kind kind() const { return m_kind; }
    // The tool's own text; hides AppError::message(), which adds the prefix.
    QString message() const { return m_message; }

private:
    ZipError(Kind kind, QString message, QString description)
        : AppError(std::move(description)), m_kind(kind), m_message(std::move(message)) {}

    Kind m_kind;
    QString m_message;
};
