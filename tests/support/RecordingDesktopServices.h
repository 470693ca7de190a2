#pragma once

#include "platform/DesktopServices.h"

#include <QList>
#include <QStringList>
#include <optional>

// Desktop services for logic and view tests: records every call and can be
// told to fail the login-item calls.
class RecordingDesktopServices : public DesktopServices {
public:
    struct Notification {
        QString title;
        QString body;
        std::optional<QString> downloadURL;
        bool operator==(const Notification&) const = default;
    };

    // Recorded also when refused.
    bool copyText(const QString& text) override;
    void postNotification(const QString& title, const QString& body,
                          const std::optional<QString>& downloadURL) override;
    // Recorded as a notification, its title also in `failures`.
    void postFailureNotification(const QString& title, const QString& body) override {
        failures << title;
        postNotification(title, body, std::nullopt);
    }
    // Both record the call, then throw AppError(*failLoginItemWith) when set;
    // otherwise they switch loginItemEnabled.
    void registerLoginItem() override;
    void unregisterLoginItem() override;
    bool isLoginItemEnabled() override { return loginItemEnabled; }
    void revealInFileViewer(const QString& filePath) override;
    void beginJobProgress(const QString&, std::function<void()>) override { jobs << QStringLiteral("begin"); }
    void endJobProgress(const QString& errorText) override { jobs << QStringLiteral("end ") + errorText; }

    QStringList copiedTexts;
    QStringList failures;
    QList<Notification> notifications;
    QStringList revealedPaths;
    QStringList loginItemCalls; // "register", "unregister"
    QStringList jobs;           // "begin", "end " and the error text
    bool loginItemEnabled = false;
    bool refuseCopies = false; // as a clipboard that another client holds on to
    std::optional<QString> failLoginItemWith;
};
