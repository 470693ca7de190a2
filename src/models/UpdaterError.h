#pragma once

#include "AppError.h"
#include <QCoreApplication>

// Failures of an update check or installation. Each one installs nothing; the
// texts say so where the user might otherwise wonder.
class UpdaterError : public AppError {
public:
    enum class Kind {
        FeedUnreadable,
        DownloadFailed,
        WrongLength,
        MissingSignature,
        BadSignature,
        InstallFailed
    };

    static UpdaterError feedUnreadable(const QString& reason) {
        return UpdaterError(Kind::FeedUnreadable,
                            QCoreApplication::translate(
                                "UpdaterError", "Die Update-Informationen konnten nicht geladen werden: ") +
                                reason);
    }
    static UpdaterError downloadFailed(const QString& reason) {
        return UpdaterError(Kind::DownloadFailed,
                            QCoreApplication::translate(
                                "UpdaterError", "Das Update konnte nicht geladen werden: %1. Es wurde nichts "
                                                "installiert.")
                                .arg(reason));
    }
    static UpdaterError wrongLength() {
        return UpdaterError(
            Kind::WrongLength,
            QCoreApplication::translate("UpdaterError",
                                        "Das Update hat nicht die angekündigte Größe. Es wurde nichts "
                                        "installiert."));
    }
    static UpdaterError missingSignature() {
        return UpdaterError(
            Kind::MissingSignature,
            QCoreApplication::translate("UpdaterError",
                                        "Das Update ist nicht signiert. Es wurde nichts installiert."));
    }
    static UpdaterError badSignature() {
        return UpdaterError(
            Kind::BadSignature,
            QCoreApplication::translate(
                "UpdaterError", "Die Signatur des Updates ist ungültig. Es wurde nichts installiert."));
    }
    static UpdaterError installFailed(const QString& reason) {
        return UpdaterError(
            Kind::InstallFailed,
            QCoreApplication::translate("UpdaterError", "Das Update konnte nicht installiert werden: ") +
                reason);
    }

    Kind kind() const { return m_kind; }

private:
    UpdaterError(Kind kind, QString description) : AppError(std::move(description)), m_kind(kind) {}

    Kind m_kind;
};
