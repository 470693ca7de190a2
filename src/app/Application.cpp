#include "app/Application.h"

#include "app/PanelPlacement.h"
#include "app/PanelWindow.h"
#include "app/StatusIconAnimator.h"
#include "app/TrayIcon.h"
#include "app/UpdateDialogs.h"
#include "platform/NetworkReturnWatcher.h"
#include "services/UpdaterBackend.h"
#include "transfers/ClientSession.h"
#include "transfers/Detached.h"
#include "transfers/ServerAccount.h"
#include "transfers/UpdaterManager.h"
#include "transfers/Uploads.h"
#include "views/PanelView.h"
#include "views/SendTab.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QMenu>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QSystemTrayIcon>

Application::Application(QObject* parent) : Application(Options(), parent) {}

Application::Application(Options options, QObject* parent)
    : QObject(parent), m_options(options), m_http(m_options.http) {}

Application::~Application() {
    delete m_panel;
    delete m_trayMenu;
    // The parts, last made first gone, while the engine, settings and desktop they use still exist.
    while (!children().isEmpty())
        delete children().constLast();
}

void Application::start(const QList<QUrl>& files) {
    // The icon first: it is what the user waits for, and everything below can follow it.
    const qreal ratio = qApp->devicePixelRatio();
    m_tray = new QSystemTrayIcon(QIcon(QPixmap::fromImage(TrayIcon::create(ratio))), this);
    m_tray->setToolTip(QStringLiteral("Zanvolt"));
    m_tray->show();

    m_updater = new UpdaterManager(UpdaterManager::Environment{nullptr, &m_settings, &m_http}, this);
    connect(m_updater, &UpdaterManager::updateDialogWillShow, this, &Application::hidePanel);
    UpdateDialogs::attach(*m_updater);

    ClientSession::Environment environment;
    environment.secretStore = m_options.secretStore;
    environment.desktop = &m_desktop;
    environment.settings = &m_settings;
    m_session = new ClientSession(m_http, environment, this);
    new NetworkReturnWatcher(m_http, QDBusConnection::systemBus(), this);

    // An install quits the client: held while anything runs, tried again once nothing does.
    QPointer<ClientSession> session(m_session);
    m_updater->setIsBusyCheck([session] { return session && session->isBusy(); });
    connect(m_session, &ClientSession::becameIdle, m_updater, &UpdaterManager::attemptPendingInstall);

    // The panel's widgets are made when it first opens: most clients sit in the tray for days
    // without it, and its views hold fonts, symbols and rows.
    m_panel = new PanelWindow(&m_settings);
    connect(m_panel, &PanelWindow::paletteChanged, this, [this] { m_viewStale = true; });
    connect(m_panel, &PanelWindow::filesDropped, this, &Application::receiveFiles);

    m_animator = new StatusIconAnimator(m_session->uploads(), {}, ratio, this);
    connect(m_animator, &StatusIconAnimator::iconChanged, m_tray,
            [this](const QImage& image) { m_tray->setIcon(QIcon(QPixmap::fromImage(image))); });
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) {
            if (PanelPlacement::pointerTrusted(qEnvironmentVariable("XDG_SESSION_TYPE"),
                                               qEnvironmentVariable("WAYLAND_DISPLAY")))
                m_clickPosition = QCursor::pos();
            togglePanel();
        }
    });
    // Some hosts show only the menu: everything must be reachable from it.
    m_trayMenu = new QMenu;
    m_trayMenu->addAction(QCoreApplication::translate("Application", "Panel öffnen"), this,
                          &Application::showPanel);
    m_trayMenu->addAction(QCoreApplication::translate("Application", "Dateien senden…"), this,
                          &Application::chooseFilesToSend);
    m_trayMenu->addAction(QCoreApplication::translate("Application", "Einstellungen"), this,
                          &Application::showSettings);
    m_trayMenu->addSeparator();
    m_trayMenu->addAction(QCoreApplication::translate("Application", "Zanvolt beenden"), this,
                          &Application::quit);
    m_tray->setContextMenu(m_trayMenu);
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        m_desktop.postNotification(
            QStringLiteral("Zanvolt"),
            QCoreApplication::translate("Application",
                                        "Kein Infobereich gefunden. Starte „zanvolt“ erneut, um das "
                                        "Panel zu öffnen."),
            std::nullopt);
        showPanel();
    }
    // Without a server the settings open instead of a run; where no tray icon leads back to the
    // panel, a notification says why.
    connect(m_session->uploads(), &Uploads::configurationMissing, this, [this] {
        showSettings();
        if (!QSystemTrayIcon::isSystemTrayAvailable())
            m_desktop.postFailureNotification(
                QStringLiteral("Zanvolt"),
                QCoreApplication::translate("Application",
                                            "Richte zuerst den Server in den Einstellungen ein."));
    });
    if (!files.isEmpty()) {
        // Once the store has answered, so that a client without a server shows no run for them.
        detach(m_session->account()->reload(), this,
               [this, files](ServerAccount::State) { receiveFiles(files); });
    }
}

void Application::buildView() {
    // Everything the view shows lives in the session, so a new one shows the same.
    delete m_view;
    m_view = new PanelView(m_session, m_updater);
    m_panel->setContent(m_view);
    m_viewStale = false;
}

void Application::togglePanel() {
    if (m_panel->isVisible())
        hidePanel();
    else
        showPanel();
}

void Application::showPanel() {
    if (m_viewStale && !m_panel->isVisible())
        buildView();
    QScreen* primary = QGuiApplication::primaryScreen();
    const QRect trayGeometry = m_tray ? m_tray->geometry() : QRect();
    const QRect anchor =
        PanelPlacement::anchor(trayGeometry.isValid() ? std::optional<QRect>(trayGeometry) : std::nullopt,
                               m_clickPosition, primary ? primary->availableGeometry() : QRect());
    QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (!screen)
        screen = primary;
    m_panel->move(PanelPlacement::topLeft(
        anchor, m_panel->size(), screen ? std::optional<QRect>(screen->availableGeometry()) : std::nullopt));
    m_panel->show();
    m_panel->raise();
    m_panel->activateWindow();
}

void Application::chooseFilesToSend() {
    m_session->setShowSettings(false);
    m_session->setSelectedTab(0);
    showPanel();
    m_view->sendTab()->chooseFiles();
}

void Application::showSettings() {
    m_session->setShowSettings(true);
    showPanel();
}

void Application::quit() {
    // Nothing the user started may complete after quitting: the queue and the running upload (its
    // zip included) end, then every request still on the wire. exit(), unlike quit(), asks no
    // window first: the panel only ever hides and would veto it.
    if (m_session)
        m_session->uploads()->cancelAll();
    m_http.stop();
    QCoreApplication::exit(0);
}

void Application::hidePanel() {
    if (m_panel)
        m_panel->hide();
}

void Application::receiveFiles(const QList<QUrl>& urls) {
    QList<QUrl> files;
    for (const QUrl& url : urls)
        if (url.isLocalFile())
            files << url;
    if (!files.isEmpty())
        m_session->uploads()->uploadFiles(files, std::nullopt, false);
}
