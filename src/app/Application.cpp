#include "Application.h"

#include "PanelPlacement.h"
#include "PanelView.h"
#include "PanelWindow.h"
#include "StatusIconAnimator.h"
#include "TransferSession.h"
#include "UpdateDialogs.h"
#include "UpdaterBackend.h"
#include "UpdaterManager.h"
#include "Uploads.h"

#include <QApplication>
#include <QCursor>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QSystemTrayIcon>

Application::Application(QObject* parent) : QObject(parent) {}

Application::~Application() {
    delete m_panel;
}

void Application::start(const QList<QUrl>& files) {
    m_updater = new UpdaterManager(UpdaterManager::Environment{nullptr, &m_settings}, this);
    connect(m_updater, &UpdaterManager::updateDialogWillShow, this, &Application::hidePanel);
    UpdateDialogs::attach(*m_updater);

    TransferSession::Environment environment;
    environment.desktop = &m_desktop;
    environment.settings = &m_settings;
    m_session = new TransferSession(environment, this);

    QPointer<Uploads> uploads(m_session->uploads());
    m_updater->setIsBusyCheck(
        [uploads] { return uploads && (uploads->isUploading() || uploads->isZipping()); });

    m_panel = new PanelWindow(&m_settings);
    m_panel->setContent(new PanelView(m_session, m_updater));
    connect(m_panel, &PanelWindow::filesDropped, this, &Application::receiveFiles);

    const qreal ratio = qApp->devicePixelRatio();
    QPointer<UpdaterManager> updater(m_updater);
    m_animator = new StatusIconAnimator(
        m_session->uploads(),
        [updater] {
            if (updater)
                updater->attemptPendingInstall();
        },
        {}, ratio, this);

    m_tray = new QSystemTrayIcon(this);
    m_tray->setToolTip(QStringLiteral("Zanvolt"));
    m_tray->setIcon(QIcon(QPixmap::fromImage(m_animator->normalIcon())));
    connect(m_animator, &StatusIconAnimator::iconChanged, m_tray,
            [this](const QImage& image) { m_tray->setIcon(QIcon(QPixmap::fromImage(image))); });
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) {
            m_clickPosition = QCursor::pos();
            togglePanel();
        }
    });
    m_tray->show();
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        m_desktop.postNotification(
            QStringLiteral("Zanvolt"),
            QStringLiteral("Kein Infobereich gefunden. Starte „zanvolt“ erneut, um das "
                           "Panel zu öffnen."),
            std::nullopt);
        showPanel();
    }
    if (!files.isEmpty())
        receiveFiles(files);
}

void Application::togglePanel() {
    if (m_panel->isVisible())
        hidePanel();
    else
        showPanel();
}

void Application::showPanel() {
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
