#include "SessionFixture.h"

#include "TestFiles.h"
#include "WaitForTask.h"

SessionFixture::SessionFixture(DesktopServices* desktopServices, HttpEngine::Options engine)
    : TestServerFixture({}, std::move(engine)) {
    server().setRecordBodies(true);
    ClientSession::Environment environment;
    environment.historyDirectory = historyPath();
    environment.secretStore = &store();
    environment.desktop = desktopServices ? desktopServices : &desktop;
    environment.settings = &settings;
    environment.firstPollDelay = environment.pollInterval = std::chrono::hours(1);
    storeCredentials(QString(), QString());
    m_session = std::make_unique<ClientSession>(http(), environment);
    session = m_session.get();
    // The store answers one call after the other: once this read is answered, so are the start-up's.
    waitForTask(session->account()->reload());
    uploads = session->uploads();
    sent = session->sent();
    operations = session->sentOperations();
    received = session->received();
    storeCredentials(server().baseURL(), server().apiKey());
    waitForTask(session->account()->reload());
    session->setShowSettings(false);
}

SessionFixture::~SessionFixture() = default;

QUrl SessionFixture::file(const QString& relativePath, const QByteArray& content) const {
    return writeFile(dir.filePath(relativePath), content);
}
