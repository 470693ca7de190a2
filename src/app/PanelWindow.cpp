#include "PanelWindow.h"

#include "PanelPlacement.h"
#include "Settings.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QVBoxLayout>

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
    layout->setContentsMargins(0, 0, 0, 0);
    qApp->installEventFilter(this);
}

PanelWindow::~PanelWindow() {
    qApp->removeEventFilter(this);
}

void PanelWindow::setContent(QWidget* content) {
    layout()->addWidget(content);
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
            hide();
    }
    return QWidget::event(event);
}

void PanelWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
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
    if (!fileUrls(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void PanelWindow::dragMoveEvent(QDragMoveEvent* event) {
    if (!fileUrls(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void PanelWindow::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = fileUrls(event->mimeData());
    if (urls.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    Q_EMIT filesDropped(urls);
}

void PanelWindow::closeEvent(QCloseEvent* event) {
    // The panel is only ever hidden: closing it must not end the client.
    event->ignore();
    hide();
}
