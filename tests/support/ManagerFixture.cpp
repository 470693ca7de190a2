#include "ManagerFixture.h"

#include "TestFiles.h"

ManagerFixture::ManagerFixture() {
    server().setRecordBodies(true);
    TransferManager::Environment environment;
    environment.historyDirectory = historyPath();
    environment.secretStore = &store();
    environment.desktop = &desktop;
    environment.defaults = &defaults;
    environment.firstPollDelay = environment.pollInterval = std::chrono::hours(1);
    storeCredentials(QString(), QString());
    m_manager = std::make_unique<TransferManager>(environment);
    manager = m_manager.get();
    storeCredentials(server().baseURL(), server().apiKey());
    manager->setShowSettings(false);
}

ManagerFixture::~ManagerFixture() = default;

QUrl ManagerFixture::file(const QString& relativePath, const QByteArray& content) const {
    return writeFile(dir.filePath(relativePath), content);
}
