#pragma once

#include "RecordingDesktopServices.h"
#include "TestServerFixture.h"
#include "TransferManager.h"
#include "UserDefaults.h"

#include <QTemporaryDir>
#include <QUrl>

// A TransferManager wired to the bundled server, with recording desktop services, a settings
// file and history folder of its own and its polls an hour away. It starts as a configured
// client does, except that its start-up refresh ends at once instead of racing a test's own
// requests. The server records request bodies.
class ManagerFixture : public TestServerFixture {
public:
    ManagerFixture();
    ~ManagerFixture();

    QString historyPath() const { return dir.filePath(QStringLiteral("history")); }
    // Writes a file below the fixture's folder and returns its URL, as a drop hands it over.
    QUrl file(const QString& relativePath, const QByteArray& content) const;

    QTemporaryDir dir;
    UserDefaults defaults{dir.filePath(QStringLiteral("settings.ini"))};
    RecordingDesktopServices desktop;
    TransferManager* manager = nullptr;

private:
    std::unique_ptr<TransferManager> m_manager;
};
