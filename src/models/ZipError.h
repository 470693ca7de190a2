#pragma once

#include "AppError.h"
#include "UserText.h"

// Errors of packing several items into one archive.
class ZipError : public AppError {
public:
    enum class Kind { ZipFailed, NoFiles, NotEnoughSpace };

    static ZipError zipFailed(const QString& message) {
        return ZipError(Kind::ZipFailed, message, UserText::zipFailed(message));
    }
    static ZipError noFiles() { return ZipError(Kind::NoFiles, {}, UserText::noFilesToZip()); }
    // Sizes as the app formats them, e.g. "3.2 GB".
    static ZipError notEnoughSpace(const QString& needed, const QString& available) {
        return ZipError(Kind::NotEnoughSpace, {}, UserText::notEnoughSpaceForZip(needed, available));
    }

    Kind kind() const { return m_kind; }
    // The tool's own text, without the prefix message() adds.
    QString toolMessage() const { return m_message; }

private:
    ZipError(Kind kind, QString message, QString description)
        : AppError(std::move(description)), m_kind(kind), m_message(std::move(message)) {}

    Kind m_kind;
    QString m_message;
};
