#pragma once

#include "AppError.h"
#include "UserText.h"

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
        return UpdaterError(Kind::FeedUnreadable, UserText::updateFeedUnreadable(reason));
    }
    static UpdaterError downloadFailed(const QString& reason) {
        return UpdaterError(Kind::DownloadFailed, UserText::updateDownloadFailed(reason));
    }
    static UpdaterError wrongLength() {
        return UpdaterError(Kind::WrongLength, UserText::updateWrongLength());
    }
    static UpdaterError missingSignature() {
        return UpdaterError(Kind::MissingSignature, UserText::updateMissingSignature());
    }
    static UpdaterError badSignature() {
        return UpdaterError(Kind::BadSignature, UserText::updateBadSignature());
    }
    static UpdaterError installFailed(const QString& reason) {
        return UpdaterError(Kind::InstallFailed, UserText::updateInstallFailed(reason));
    }

    Kind kind() const { return m_kind; }

private:
    UpdaterError(Kind kind, QString description) : AppError(std::move(description)), m_kind(kind) {}

    Kind m_kind;
};
