#include "views/SettingsPage.h"

#include "models/APIError.h"
#include "models/ErrorText.h"
#include "transfers/ClientSession.h"
#include "transfers/Detached.h"
#include "transfers/ServerAccount.h"
#include "transfers/UpdaterManager.h"
#include "views/BuildInfo.h"
#include "views/SettingsField.h"
#include "views/Style.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <utility>

namespace {
struct Stored {
    std::optional<KeychainService::Credentials> credentials;
    std::optional<QString> failure;
};

QCoro::Task<Stored> readStored(QPointer<ServerAccount> account) {
    Stored stored;
    try {
        if (account)
            stored.credentials = co_await account->storedCredentials();
    } catch (const std::exception& error) {
        stored.failure = describeError(error).text;
    }
    co_return stored;
}

template <typename Button> Button* captionButton(const QString& text) {
    auto* button = new Button(text);
    button->setAccessibleName(text);
    Style::setFont(button, Style::Text::Caption);
    return button;
}
} // namespace

SettingsPage::SettingsPage(ClientSession* session, UpdaterManager* updater, QWidget* parent)
    : QWidget(parent), m_session(session), m_account(session->account()), m_updater(updater) {
    setAccessibleName(QCoreApplication::translate("SettingsPage", "Einstellungen"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(buildPage());
    layout->addWidget(scroll);

    if (m_updater)
        connect(m_updater, &UpdaterManager::canCheckForUpdatesChanged, this, &SettingsPage::updateButtons);
    setStoredValuesShown(false);
}

SettingsPage::~SettingsPage() = default;

QWidget* SettingsPage::buildPage() {
    auto* page = new QWidget;
    auto* stack = new QVBoxLayout(page);
    stack->setContentsMargins(16, 16, 16, 16);
    stack->setSpacing(14);

    auto* title = new QLabel(QCoreApplication::translate("SettingsPage", "Transfer-Server"));
    title->setAccessibleName(title->text());
    Style::setFont(title, Style::Text::Smaller, QFont::DemiBold);
    stack->addWidget(title);

    auto* fields = new QVBoxLayout;
    fields->setSpacing(8);
    m_serverURL = new SettingsField(QCoreApplication::translate("SettingsPage", "Server-URL"),
                                    ServerAccount::defaultServerURL(), false);
    m_serverURL->setObjectName(QStringLiteral("serverURLField"));
    m_apiKey = new SettingsField(QCoreApplication::translate("SettingsPage", "API-Key"),
                                 QCoreApplication::translate("SettingsPage", "64-Zeichen Hex-Key"), true);
    m_apiKey->setObjectName(QStringLiteral("apiKeyField"));
    fields->addWidget(m_serverURL);
    fields->addWidget(m_apiKey);
    stack->addLayout(fields);
    connect(m_serverURL, &SettingsField::textChanged, this, &SettingsPage::updateButtons);
    connect(m_apiKey, &SettingsField::textChanged, this, &SettingsPage::updateButtons);

    m_testButton = captionButton<QPushButton>(QCoreApplication::translate("SettingsPage", "Server testen"));
    m_testButton->setObjectName(QStringLiteral("testButton"));
    m_testButton->setIcon(Style::icon(QStringLiteral("network-server-link")));
    m_testButton->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(m_testButton, &QPushButton::clicked, this, &SettingsPage::testServer);
    stack->addWidget(m_testButton);
    stack->addWidget(Style::divider());

    m_autoCopyLink = captionButton<QCheckBox>(
        QCoreApplication::translate("SettingsPage", "Link nach Upload in Zwischenablage kopieren"));
    m_autoCopyLink->setObjectName(QStringLiteral("autoCopyLinkSwitch"));
    m_autoCopyLink->setChecked(true);
    connect(m_autoCopyLink, &QCheckBox::toggled, m_account, &ServerAccount::setAutoCopyLink);
    stack->addWidget(m_autoCopyLink, 0, Qt::AlignLeft);

    m_launchAtLogin =
        captionButton<QCheckBox>(QCoreApplication::translate("SettingsPage", "Bei Anmeldung starten"));
    m_launchAtLogin->setObjectName(QStringLiteral("launchAtLoginSwitch"));
    connect(m_launchAtLogin, &QCheckBox::toggled, this, [this](bool on) {
        if (!m_resettingLaunchAtLogin)
            setLaunchAtLogin(on);
    });
    stack->addWidget(m_launchAtLogin, 0, Qt::AlignLeft);
    stack->addWidget(Style::divider());

    auto* actions = new QHBoxLayout;
    actions->setSpacing(12);
    auto* cancel = captionButton<QPushButton>(QCoreApplication::translate("SettingsPage", "Abbrechen"));
    cancel->setObjectName(QStringLiteral("cancelButton"));
    connect(cancel, &QPushButton::clicked, this, [this] { m_session->setShowSettings(false); });
    actions->addWidget(cancel);
    actions->addStretch(1);
    m_saveButton = captionButton<QPushButton>(QCoreApplication::translate("SettingsPage", "Speichern"));
    m_saveButton->setObjectName(QStringLiteral("saveButton"));
    m_saveButton->setIcon(Style::icon(QStringLiteral("emblem-ok")));
    m_saveButton->setDefault(true);
    connect(m_saveButton, &QPushButton::clicked, this, &SettingsPage::saveCredentials);
    actions->addWidget(m_saveButton);
    stack->addLayout(actions);

    m_result = new QLabel;
    m_result->setTextFormat(Qt::PlainText);
    m_result->setObjectName(QStringLiteral("testResult"));
    m_result->setWordWrap(true);
    m_result->setContentsMargins(0, 4, 0, 0);
    m_result->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Style::setFont(m_result, Style::Text::Caption);
    m_result->hide();
    stack->addWidget(m_result);

    m_testingRow = new QWidget;
    m_testingRow->setObjectName(QStringLiteral("testingRow"));
    auto* testing = new QHBoxLayout(m_testingRow);
    testing->setContentsMargins(0, 0, 0, 0);
    auto* spinner = Style::spinner(22, QCoreApplication::translate("SettingsPage", "Teste Verbindung..."));
    testing->addWidget(spinner, 0, Qt::AlignVCenter);
    auto* testingText = new QLabel(QCoreApplication::translate("SettingsPage", "Teste Verbindung..."));
    testingText->setAccessibleName(testingText->text());
    Style::setFont(testingText, Style::Text::Caption);
    testingText->setStyleSheet(QStringLiteral("color: %1").arg(Style::css(Style::secondary())));
    testing->addWidget(testingText, 1, Qt::AlignVCenter);
    m_testingRow->hide();
    stack->addWidget(m_testingRow);
    stack->addWidget(Style::divider());

    m_updateButton = new QPushButton(QCoreApplication::translate("SettingsPage", "Jetzt auf Updates prüfen"));
    m_updateButton->setObjectName(QStringLiteral("updateButton"));
    m_updateButton->setAccessibleName(m_updateButton->text());
    Style::setFont(m_updateButton, Style::Text::Fine);
    connect(m_updateButton, &QPushButton::clicked, this, [this] {
        if (m_updater)
            m_updater->checkForUpdates();
    });
    stack->addWidget(m_updateButton, 0, Qt::AlignHCenter);
    // In place of a button that could never be used: why updates come another way.
    m_updateNote = new QLabel;
    m_updateNote->setObjectName(QStringLiteral("updateNote"));
    m_updateNote->setTextFormat(Qt::PlainText);
    Style::setFont(m_updateNote, Style::Text::Fine);
    m_updateNote->setStyleSheet(QStringLiteral("color: %1").arg(Style::css(Style::secondary())));
    m_updateNote->hide();
    stack->addWidget(m_updateNote, 0, Qt::AlignHCenter);

    auto* version =
        new QLabel(QStringLiteral("v") + BuildInfo::version() +
                   QCoreApplication::translate("SettingsPage", " \u2022 Build ") + BuildInfo::buildDate());
    version->setObjectName(QStringLiteral("versionLine"));
    version->setAccessibleName(version->text());
    Style::setFont(version, Style::Text::Fine);
    version->setStyleSheet(QStringLiteral("color: %1").arg(Style::css(Style::secondary())));
    stack->addWidget(version, 0, Qt::AlignHCenter);
    stack->addStretch(1);
    return page;
}

void SettingsPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (std::exchange(m_loadPending, false))
        loadExisting();
}

void SettingsPage::loadExisting() {
    // A page that appears starts from its initial values, as if built anew.
    m_serverURL->setText(ServerAccount::defaultServerURL());
    m_apiKey->setText(QString());
    setTestResult(QString());
    m_resettingLaunchAtLogin = true;
    m_launchAtLogin->setChecked(false);
    m_resettingLaunchAtLogin = false;

    // The stored pair arrives from the secret store's worker; until then, and when the store cannot
    // be read, the fields stay disabled instead of offering the defaults as if nothing were stored.
    setStoredValuesShown(false);
    const int load = ++m_loads;
    detach(readStored(m_account), this, [this, load](Stored stored) {
        if (load != m_loads)
            return; // the page was opened again meanwhile
        if (stored.failure) {
            setTestResult(*stored.failure, false);
            return;
        }
        if (stored.credentials) {
            if (!stored.credentials->serverURL.isEmpty())
                m_serverURL->setText(stored.credentials->serverURL);
            m_apiKey->setText(stored.credentials->apiKey);
            // Shown for correcting, but never used as it is (provisioned by hand, with a line break).
            if (!stored.credentials->hasValidAPIKey())
                setTestResult(APIError::invalidAPIKey().message(), false);
        }
        setStoredValuesShown(true);
    });
    {
        const QSignalBlocker quiet(m_autoCopyLink);
        m_autoCopyLink->setChecked(m_account->autoCopyLink());
    }
    // Like a change by the user: an enabled login item is registered once more.
    m_launchAtLogin->setChecked(m_account->launchAtLogin());
}

void SettingsPage::saveCredentials() {
    if (m_isSaving)
        return;
    setSaving(true);
    detach(m_account->save({m_serverURL->text(), m_apiKey->text()}), this,
           [this](std::optional<QString> failure) {
               setSaving(false);
               if (failure)
                   setTestResult(*failure, false);
               else
                   m_session->setShowSettings(false);
           });
}

void SettingsPage::testServer() {
    setTesting(true);
    setTestResult(QString());
    detach(m_account->test({m_serverURL->text(), m_apiKey->text()}), this,
           [this](ServerAccount::TestResult result) {
               setTestResult(result.text, result.succeeded);
               setTesting(false);
           });
}

void SettingsPage::setLaunchAtLogin(bool value) {
    if (const auto failure = m_account->setLaunchAtLogin(value)) {
        setTestResult(*failure, false);
        m_resettingLaunchAtLogin = true;
        m_launchAtLogin->setChecked(!value);
        m_resettingLaunchAtLogin = false;
    }
}

void SettingsPage::setTestResult(const QString& text, bool good) {
    m_testResult = text;
    m_result->setText(text);
    m_result->setAccessibleName(text);
    m_result->setStyleSheet(
        QStringLiteral("color: %1").arg(Style::css(good ? Style::green() : Style::red())));
    m_result->setVisible(!text.isEmpty());
}

void SettingsPage::setTesting(bool value) {
    m_isTesting = value;
    m_testingRow->setVisible(value);
    updateButtons();
}

void SettingsPage::setSaving(bool value) {
    m_isSaving = value;
    updateButtons();
}

void SettingsPage::setStoredValuesShown(bool value) {
    m_storedValuesShown = value;
    m_serverURL->setEnabled(value);
    m_apiKey->setEnabled(value);
    updateButtons();
}

void SettingsPage::updateButtons() {
    const bool complete =
        m_storedValuesShown && !m_serverURL->text().isEmpty() && !m_apiKey->text().isEmpty();
    m_testButton->setEnabled(complete && !m_isTesting && !m_isSaving);
    m_saveButton->setEnabled(complete && !m_isSaving);
    m_updateButton->setEnabled(m_updater && m_updater->canCheckForUpdates());
    const QString noUpdates = m_updater ? m_updater->unavailableReason() : QString();
    m_updateNote->setText(noUpdates);
    m_updateNote->setAccessibleName(noUpdates);
    m_updateNote->setVisible(!noUpdates.isEmpty());
    m_updateButton->setVisible(noUpdates.isEmpty());
}
