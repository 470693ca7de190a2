#pragma once

#include "RecordingDesktopServices.h"
#include "TestServerFixture.h"
#include "platform/Settings.h"
#include "transfers/ClientSession.h"
#include "transfers/ReceivedUploads.h"
#include "transfers/SentTransferOperations.h"
#include "transfers/SentTransfers.h"
#include "transfers/ServerAccount.h"
#include "transfers/Uploads.h"

#include <QTemporaryDir>
#include <QUrl>

// A ClientSession wired to the bundled server, with recording desktop services, a settings
// file and history folder of its own and its polls an hour away. It starts as a configured
// client does, except that its start-up refresh ends at once instead of racing a test's own
// requests. The server records request bodies. Given `desktopServices`, the session uses those
// (which must outlive it) instead of the recording ones; its engine is made with `http`.
class SessionFixture : public TestServerFixture {
public:
    explicit SessionFixture(DesktopServices* desktopServices = nullptr, HttpEngine::Options http = {});
    ~SessionFixture();

    QString historyPath() const { return dir.filePath(QStringLiteral("history")); }
    // Writes a file below the fixture's folder and returns its URL, as a drop hands it over.
    QUrl file(const QString& relativePath, const QByteArray& content) const;

    QTemporaryDir dir;
    Settings settings{dir.filePath(QStringLiteral("settings.ini"))};
    RecordingDesktopServices desktop;
    ClientSession* session = nullptr;
    Uploads* uploads = nullptr;
    SentTransfers* sent = nullptr;
    SentTransferOperations* operations = nullptr;
    ReceivedUploads* received = nullptr;

private:
    std::unique_ptr<ClientSession> m_session;
};
