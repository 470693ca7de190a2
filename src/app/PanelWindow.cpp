#include "PanelWindow.h"

#include "PanelPlacement.h"
#include "Settings.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QSizeGrip>
#include <QVBoxLayout>
#include <xcb/xcb.h>

namespace {
// Long enough for the pointer to leave a press that was only a click, short enough that a click
// elsewhere still reads as closing the panel.
constexpr std::chrono::milliseconds defaultHideGrace{250};
} // namespace

PanelWindow::PanelWindow(Settings* settings, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), m_settings(settings) {
    setObjectName(QStringLiteral("ZanvoltPanel"));
    setAccessibleName(QStringLiteral("Zanvolt"));
    setWindowTitle(QStringLiteral("Zanvolt"));
    setAcceptDrops(true);
    setMinimumSize(PanelPlacement::minimumSize);
    setMaximumSize(PanelPlacement::maximumSize);
    resize(PanelPlacement::storedSize(m_settings->panelWidth(), m_settings->panelHeight()));
    auto* layout = new QVBoxLayout(this);
    // One pixel for the border, which keeps the frameless panel apart from windows behind it.
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
    // A frameless window has no edges to pull: the grip in the bottom-right corner resizes it.
    auto* grip = new QSizeGrip(this);
    grip->setObjectName(QStringLiteral("sizeGrip"));
    grip->setAccessibleName(QCoreApplication::translate("PanelWindow", "Größe ändern"));
    grip->raise();
    m_buttonProbe = &PanelWindow::pointerButtonHeld;
    m_hideTimer.setSingleShot(true);
    m_hideTimer.setInterval(defaultHideGrace);
    connect(&m_hideTimer, &QTimer::timeout, this, &PanelWindow::hideUnlessBusy);
    qApp->installEventFilter(this);
}

void PanelWindow::setHideGrace(std::chrono::milliseconds grace) {
    m_hideTimer.setInterval(grace);
}

void PanelWindow::setButtonProbe(std::function<bool()> probe) {
    m_buttonProbe = std::move(probe);
}

bool PanelWindow::pointerButtonHeld() {
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return false;
    xcb_connection_t* connection = x11->connection();
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen)
        return false;
    xcb_query_pointer_reply_t* reply =
        xcb_query_pointer_reply(connection, xcb_query_pointer(connection, screen->root), nullptr);
    if (!reply)
        return false;
    const bool held = reply->mask & (XCB_BUTTON_MASK_1 | XCB_BUTTON_MASK_2 | XCB_BUTTON_MASK_3);
    free(reply);
    return held;
}

void PanelWindow::hideUnlessBusy() {
    if (!isVisible() || isActiveWindow() || m_dragInside)
        return;
    // A held button may be a drag on its way here: look again once the grace has passed.
    if (m_buttonProbe && m_buttonProbe()) {
        m_hideTimer.start();
        return;
    }
    hide();
}

PanelWindow::~PanelWindow() {
    qApp->removeEventFilter(this);
}

void PanelWindow::setContent(QWidget* content) {
    layout()->addWidget(content);
    if (auto* grip = findChild<QSizeGrip*>(QStringLiteral("sizeGrip"), Qt::FindDirectChildrenOnly))
        grip->raise();
}

bool PanelWindow::eventFilter(QObject* watched, QEvent* event) {
    // Escape while the panel is shown hides it and is consumed; in the
    // panel's own dialogs it stays theirs (it cancels them).
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
        isVisible()) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget->window() == this) {
            hide();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool PanelWindow::event(QEvent* event) {
    if (event->type() == QEvent::WindowDeactivate && isVisible()) {
        // Losing the focus to one of our own dialogs (rename dialog, alerts)
        // keeps the panel; losing it to anything else hides it.
        const QWidget* active = QApplication::activeWindow();
        const QWidget* modal = QApplication::activeModalWidget();
        const bool ownDialog = (active && active != this && active->parentWidget() &&
                                active->parentWidget()->window() == this) ||
                               (modal && modal != this);
        if (!ownDialog)
            m_hideTimer.start();
    } else if (event->type() == QEvent::WindowActivate) {
        m_hideTimer.stop();
    }
    return QWidget::event(event);
}

void PanelWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (auto* grip = findChild<QSizeGrip*>(QStringLiteral("sizeGrip"), Qt::FindDirectChildrenOnly)) {
        grip->move(width() - grip->width() - 1, height() - grip->height() - 1);
        grip->raise();
    }
    m_settings->setPanelSize(width(), height());
}

QList<QUrl> PanelWindow::fileUrls(const QMimeData* mime) {
    QList<QUrl> urls;
    if (!mime || !mime->hasUrls())
        return urls;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile())
            urls << url;
    return urls;
}

void PanelWindow::dragEnterEvent(QDragEnterEvent* event) {
    // Any drag over the panel keeps it, even one it will refuse.
    m_dragInside = true;
    m_hideTimer.stop();
    if (!fileUrls(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void PanelWindow::dragLeaveEvent(QDragLeaveEvent* event) {
    m_dragInside = false;
    if (!isActiveWindow())
        m_hideTimer.start();
    QWidget::dragLeaveEvent(event);
}

void PanelWindow::dragMoveEvent(QDragMoveEvent* event) {
    if (!fileUrls(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void PanelWindow::dropEvent(QDropEvent* event) {
    m_dragInside = false;
    const QList<QUrl> urls = fileUrls(event->mimeData());
    if (urls.isEmpty()) {
        event->ignore();
        if (!isActiveWindow())
            m_hideTimer.start();
        return;
    }
    event->acceptProposedAction();
    // The drop ends the drag, not the panel: it stays to show the upload.
    activateWindow();
    Q_EMIT filesDropped(urls);
}

void PanelWindow::hideEvent(QHideEvent* event) {
    m_hideTimer.stop();
    m_dragInside = false;
    QWidget::hideEvent(event);
}

void PanelWindow::changeEvent(QEvent* event) {
    // The window sets no palette of its own, so the application's new one arrives as its change.
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange)
        Q_EMIT paletteChanged();
    QWidget::changeEvent(event);
}

void PanelWindow::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    // Between Window and WindowText, so it shows against light and dark windows behind.
    const QPalette& colours = palette();
    const QColor window = colours.color(QPalette::Window);
    const QColor text = colours.color(QPalette::WindowText);
    QPainter painter(this);
    painter.setPen(QColor((window.red() + text.red() * 2) / 3, (window.green() + text.green() * 2) / 3,
                          (window.blue() + text.blue() * 2) / 3));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void PanelWindow::closeEvent(QCloseEvent* event) {
    // The panel is only ever hidden: closing it must not end the client.
    event->ignore();
    hide();
}
