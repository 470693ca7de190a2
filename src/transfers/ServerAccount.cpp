#include "transfers/ServerAccount.h"

#include "models/APIError.h"
#include "models/ErrorText.h"
#include "net/HttpEngine.h"
#include "platform/DesktopServices.h"
#include "platform/Settings.h"
#include "services/APIService.h"
#include "services/APIServiceIncoming.h"
#include "services/LibsecretStore.h"

#include <QCoreApplication>
#include <QPointer>

#ifndef ZANVOLT_DEFAULT_SERVER_URL
#define ZANVOLT_DEFAULT_SERVER_URL ""
#endif

ServerAccount::ServerAccount(HttpEngine& http, SecretStore* store, Settings* settings,
                             DesktopServices& desktop, QObject* parent)
    : QObject(parent), m_http(http),
      m_store(store ? std::shared_ptr<SecretStore>(store, [](SecretStore*) {})
                    : std::shared_ptr<SecretStore>(std::make_shared<LibsecretStore>())),
      m_settings(settings), m_desktop(desktop) {
    if (!m_settings) {
        m_ownSettings = std::make_unique<Settings>();
        m_settings = m_ownSettings.get();
    }
    m_storeThread->setMaxThreadCount(1);
}

ServerAccount::~ServerAccount() {
    // A write just handed over gets its moment to finish; a prompt nobody answers ends with the
    // process instead of holding it.
    if (m_storeThread->waitForDone(1000))
        delete m_storeThread;
}

QString ServerAccount::defaultServerURL() {
    return QStringLiteral(ZANVOLT_DEFAULT_SERVER_URL);
}

ServerConnection ServerAccount::Reading::server() const {
    if (failure)
        std::rethrow_exception(failure);
    return {http, APIService::usableCredentials(stored)};
}

ServerAccount::Reading ServerAccount::judge(HttpEngine* http,
                                            std::optional<KeychainService::Credentials> stored,
                                            std::exception_ptr failure) {
    Reading reading{State::Configured, {}, std::move(stored), failure, http};
    try {
        reading.server();
    } catch (const std::exception& error) {
        reading.state = failure ? State::Unavailable : State::NotConfigured;
        reading.problem = describeError(error).text;
    }
    return reading;
}

QCoro::Task<ServerAccount::Reading> ServerAccount::read() {
    QPointer<ServerAccount> self(this);
    HttpEngine* const http = &m_http;
    if (m_reading.isCanceled() || m_reading.isFinished()) {
        m_reading = startOffMainThread<std::optional<KeychainService::Credentials>>(
            [secrets = m_store] { return KeychainService::loadCredentials(*secrets); }, m_storeThread);
    }
    // A named future: GCC 12 destroys a lambda temporary inside a co_await expression twice.
    auto reading = m_reading;
    const auto found = co_await reading;
    Reading result = judge(http, found.value.value_or(std::nullopt), found.error);
    if (self)
        self->publish(result);
    co_return result;
}

QCoro::Task<> ServerAccount::write(KeychainService::Credentials credentials) {
    QPointer<ServerAccount> self(this);
    HttpEngine* const http = &m_http;
    m_reading = {}; // a read asked for after this save must see it
    // Named: GCC 12 destroys a lambda temporary inside a co_await expression twice.
    std::function<bool()> save = [secrets = m_store, credentials] {
        KeychainService::saveCredentials(credentials, *secrets);
        return true;
    };
    co_await offMainThread(std::move(save), m_storeThread);
    if (self)
        self->publish(judge(http, credentials, {}));
}

void ServerAccount::publish(const Reading& reading) {
    if (m_state == reading.state && m_problem == reading.problem)
        return;
    m_state = reading.state;
    m_problem = reading.problem;
    Q_EMIT stateChanged();
}

QCoro::Task<ServerAccount::State> ServerAccount::reload() {
    QPointer<ServerAccount> self(this);
    co_await read();
    co_return self ? self->m_state : State::Unknown;
}

QCoro::Task<std::optional<KeychainService::Credentials>> ServerAccount::storedCredentials() {
    const Reading result = co_await read();
    if (result.failure)
        std::rethrow_exception(result.failure);
    co_return result.stored;
}

QCoro::Task<std::optional<QString>> ServerAccount::save(KeychainService::Credentials credentials) {
    if (!credentials.hasValidAPIKey())
        co_return APIError::invalidAPIKey().message();
    try {
        co_await write(std::move(credentials));
    } catch (const std::exception& error) {
        co_return QCoreApplication::translate("ServerAccount", "Speichern fehlgeschlagen: ") +
            describeError(error).text;
    }
    co_return std::nullopt;
}

QCoro::Task<ServerAccount::TestResult> ServerAccount::test(KeychainService::Credentials credentials) {
    HttpEngine& http = m_http; // the account may be gone once the save is done
    try {
        co_await write(credentials);
        http.forgetServerKey(credentials.serverURL);
        // With the pair just saved: the store is not asked again. Named: GCC 12 destroys a braced
        // temporary inside a co_await expression twice.
        const ServerConnection server{&http, APIService::usableCredentials(credentials)};
        const QList<IncomingUpload> uploads = co_await APIService::fetchIncoming(server);
        co_return TestResult{
            true, QCoreApplication::translate("ServerAccount", "Verbindung erfolgreich! (%1 Eingänge)")
                      .arg(uploads.size())};
    } catch (const std::exception& error) {
        co_return TestResult{false, QCoreApplication::translate("ServerAccount", "Fehler: ") +
                                        describeError(error).text};
    } catch (...) {
        co_return TestResult{false, QCoreApplication::translate("ServerAccount", "Fehler: ")};
    }
}

bool ServerAccount::autoCopyLink() const {
    return m_settings->autoCopyLink();
}

void ServerAccount::setAutoCopyLink(bool value) {
    m_settings->setAutoCopyLink(value);
}

bool ServerAccount::launchAtLogin() const {
    return m_desktop.isLoginItemEnabled();
}

std::optional<QString> ServerAccount::setLaunchAtLogin(bool value) {
    try {
        if (value)
            m_desktop.registerLoginItem();
        else
            m_desktop.unregisterLoginItem();
    } catch (const std::exception& error) {
        return QCoreApplication::translate("ServerAccount", "Autostart-Fehler: ") + describeError(error).text;
    }
    return std::nullopt;
}

void ServerAccount::removeLegacyEntries() {
    static constexpr const char* legacyAccounts[] = {"FTP_HOST",     "FTP_USER",  "FTP_PASS",  "FTP_PATH",
                                                     "DOWNLOAD_URL", "SMTP_HOST", "SMTP_PORT", "SMTP_USER",
                                                     "SMTP_PASS",    "MAIL_FROM", "MAIL_TO"};
    // Nobody waits for it; each removal's result is ignored (a missing item is normal).
    m_storeThread->start([secrets = m_store] {
        for (const char* account : legacyAccounts)
            secrets->remove(KeychainService::serviceName, QString::fromLatin1(account));
    });
}
