#include "ServerAccount.h"

#include "APIError.h"
#include "APIService.h"
#include "APIServiceIncoming.h"
#include "DesktopServices.h"
#include "ErrorText.h"
#include "Settings.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QPointer>
#include <QtConcurrent>

#ifndef ZANVOLT_DEFAULT_SERVER_URL
#define ZANVOLT_DEFAULT_SERVER_URL ""
#endif

ServerAccount::ServerAccount(SecretStore* store, Settings* settings, DesktopServices* desktop,
                             QObject* parent)
    : QObject(parent), m_store(store), m_settings(settings), m_desktop(desktop) {
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

SecretStore& ServerAccount::store() const {
    return m_store ? *m_store : KeychainService::defaultStore();
}

QCoro::Task<ServerAccount::Read> ServerAccount::read() {
    QPointer<ServerAccount> self(this);
    // Callers that come while a read is still unanswered (a locked keyring's prompt is open) share
    // its answer instead of asking for the password once each.
    if (m_reading.isCanceled() || m_reading.isFinished()) {
        SecretStore* secrets = &store();
        m_reading = QtConcurrent::run(m_storeThread, [secrets] {
            try {
                return Read{KeychainService::loadCredentials(*secrets), {}};
            } catch (...) {
                return Read{std::nullopt, std::current_exception()};
            }
        });
    }
    // A named future: GCC 12 destroys a lambda temporary inside a co_await expression twice.
    QFuture<Read> reading = m_reading;
    Read result = co_await reading;
    if (self) {
        if (result.failure) {
            try {
                std::rethrow_exception(result.failure);
            } catch (const std::exception& error) {
                self->publish(State::Unavailable, describeError(error).text);
            }
        } else {
            self->publish(result.credentials);
        }
    }
    co_return result;
}

QCoro::Task<> ServerAccount::write(KeychainService::Credentials credentials) {
    QPointer<ServerAccount> self(this);
    m_reading = {}; // a read asked for after this save must see it
    SecretStore* secrets = &store();
    QFuture<std::exception_ptr> writing = QtConcurrent::run(m_storeThread, [secrets, credentials] {
        try {
            KeychainService::saveCredentials(credentials, *secrets);
            return std::exception_ptr();
        } catch (...) {
            return std::current_exception();
        }
    });
    const std::exception_ptr failure = co_await writing;
    if (failure)
        std::rethrow_exception(failure);
    if (self)
        self->publish(credentials);
}

void ServerAccount::publish(const std::optional<KeychainService::Credentials>& credentials) {
    // The URL first, as a request reports it.
    if (!credentials || credentials->serverURL.isEmpty())
        publish(State::NotConfigured, APIError::noServerURL().message());
    else if (credentials->apiKey.isEmpty())
        publish(State::NotConfigured, APIError::noAPIKey().message());
    else if (!credentials->hasValidAPIKey())
        publish(State::NotConfigured, APIError::invalidAPIKey().message());
    else
        publish(State::Configured, QString());
}

void ServerAccount::publish(State state, QString problem) {
    if (m_state == state && m_problem == problem)
        return;
    m_state = state;
    m_problem = std::move(problem);
    Q_EMIT stateChanged();
}

QCoro::Task<ServerAccount::State> ServerAccount::reload() {
    QPointer<ServerAccount> self(this);
    co_await read();
    co_return self ? self->m_state : State::Unknown;
}

QCoro::Task<std::optional<KeychainService::Credentials>> ServerAccount::storedCredentials() {
    const Read result = co_await read();
    if (result.failure)
        std::rethrow_exception(result.failure);
    co_return result.credentials;
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
    try {
        co_await write(credentials);
        APIService::forgetCertificate(credentials.serverURL);
        const QList<IncomingUpload> uploads = co_await APIService::fetchIncoming();
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
    return m_desktop && m_desktop->isLoginItemEnabled();
}

std::optional<QString> ServerAccount::setLaunchAtLogin(bool value) {
    if (!m_desktop)
        return std::nullopt;
    try {
        if (value)
            m_desktop->registerLoginItem();
        else
            m_desktop->unregisterLoginItem();
    } catch (const std::exception& error) {
        return QCoreApplication::translate("ServerAccount", "Autostart-Fehler: ") + describeError(error).text;
    }
    return std::nullopt;
}

void ServerAccount::removeLegacyEntries() {
    static constexpr const char* legacyAccounts[] = {"FTP_HOST",     "FTP_USER",  "FTP_PASS",  "FTP_PATH",
                                                     "DOWNLOAD_URL", "SMTP_HOST", "SMTP_PORT", "SMTP_USER",
                                                     "SMTP_PASS",    "MAIL_FROM", "MAIL_TO"};
    SecretStore* secrets = &store();
    // Nobody waits for it; each removal's result is ignored (a missing item is normal).
    m_storeThread->start([secrets] {
        for (const char* account : legacyAccounts)
            secrets->remove(KeychainService::serviceName, QString::fromLatin1(account));
    });
}
