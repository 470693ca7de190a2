#include "SendenTabView.h"

#include "DesktopServices.h"
#include "DetachedTask.h"
#include "ElidedLabel.h"
#include "Labels.h"
#include "RefreshFooter.h"
#include "Style.h"
#include "TransferManager.h"
#include "TransferRowView.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
QWidget* padded(QWidget* content, int left, int top, int right, int bottom) {
    auto* box = new QWidget;
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(left, top, right, bottom);
    layout->setSpacing(0);
    layout->addWidget(content);
    return box;
}

QToolButton* symbolButton(const QString& symbol, const QColor& tint, int iconSize, const QString& name) {
    auto* button = new QToolButton;
    button->setAutoRaise(true);
    button->setIcon(Style::icon(symbol, tint));
    button->setIconSize(QSize(iconSize, iconSize));
    button->setAccessibleName(name);
    return button;
}

} // namespace

SendenTabView::SendenTabView(TransferManager* manager, DesktopServices* desktop, QWidget* parent)
    : QWidget(parent), m_manager(manager), m_desktop(desktop) {
    Q_ASSERT(manager);
    setAccessibleName(QStringLiteral("Senden"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildBanner());
    layout->addWidget(buildProgress());
    layout->addWidget(buildError());
    layout->addWidget(buildHint(), 1);
    layout->addWidget(buildList(), 1);
    layout->addWidget(buildFooter());

    connect(manager, &TransferManager::justCompletedChanged, this, [this] {
        updateBanner();
        updateChoice();
    });
    connect(manager, &TransferManager::isUploadingChanged, this, [this] {
        m_progressBox->setVisible(m_manager->isUploading());
        updateChoice();
    });
    connect(manager, &TransferManager::uploadPercentChanged, this, &SendenTabView::updateProgress);
    connect(manager, &TransferManager::uploadProgressChanged, this, &SendenTabView::updateProgress);
    connect(manager, &TransferManager::queueCountChanged, this, &SendenTabView::updateQueue);
    connect(manager, &TransferManager::errorMessageChanged, this, &SendenTabView::updateError);
    connect(manager, &TransferManager::transfersChanged, this, [this] {
        syncRows();
        updateChoice();
    });

    updateBanner();
    m_progressBox->setVisible(manager->isUploading());
    updateProgress();
    updateQueue();
    updateError();
    syncRows();
    updateChoice();
}

QWidget* SendenTabView::buildBanner() {
    auto* banner = new QFrame;
    banner->setObjectName(QStringLiteral("banner"));
    banner->setAccessibleName(QStringLiteral("Upload fertig"));
    banner->setStyleSheet(
        QStringLiteral("QFrame#banner { background: %1; border: 1px solid %2; border-radius: 6px; }")
            .arg(Style::css(Style::faded(Style::green(), 0.10)),
                 Style::css(Style::faded(Style::green(), 0.40))));
    auto* lines = new QVBoxLayout(banner);
    lines->setContentsMargins(8, 8, 8, 8);
    lines->setSpacing(6);

    auto* title = new QHBoxLayout;
    title->setSpacing(6);
    title->addWidget(Labels::symbol(QStringLiteral("checkmark.circle.fill"), Style::green(), 14));
    auto* done = new QLabel;
    Style::setFont(done, Style::Text::Caption, QFont::DemiBold);
    Labels::setText(done, QStringLiteral("Upload fertig"));
    title->addWidget(done);
    title->addStretch(1);
    auto* close = symbolButton(QStringLiteral("xmark"), Style::secondary(), 10, QStringLiteral("Schließen"));
    connect(close, &QToolButton::clicked, this, [this] {
        if (m_manager)
            m_manager->dismissJustCompleted();
    });
    title->addWidget(close);
    lines->addLayout(title);

    m_bannerFileName = Labels::text<ElidedLabel>(Style::Text::Caption2, Style::secondary());
    m_bannerFileName->setObjectName(QStringLiteral("bannerFileName"));
    lines->addWidget(m_bannerFileName);

    auto* linkRow = new QHBoxLayout;
    linkRow->setSpacing(6);
    auto* linkTitle = Labels::text(Style::Text::Caption2, Style::secondary());
    Labels::setText(linkTitle, QStringLiteral("Link:"));
    linkRow->addWidget(linkTitle);
    m_bannerLink = new ElidedLabel(Qt::ElideMiddle);
    m_bannerLink->setObjectName(QStringLiteral("bannerLink"));
    Style::setFont(m_bannerLink, Style::Text::Caption2);
    m_bannerLink->setTextInteractionFlags(Qt::TextSelectableByMouse);
    linkRow->addWidget(m_bannerLink);
    linkRow->addStretch(1);
    auto* copyLink = new QPushButton(QStringLiteral("Kopieren"));
    Style::setFont(copyLink, Style::Text::Caption2);
    copyLink->setAccessibleName(copyLink->text());
    connect(copyLink, &QPushButton::clicked, this, [this] {
        if (m_manager && m_manager->justCompleted() && m_desktop)
            m_desktop->copyText(m_manager->justCompleted()->downloadURL);
    });
    linkRow->addWidget(copyLink);
    lines->addLayout(linkRow);

    m_bannerPasswordRow = new QWidget;
    auto* passwordRow = new QHBoxLayout(m_bannerPasswordRow);
    passwordRow->setContentsMargins(0, 0, 0, 0);
    passwordRow->setSpacing(6);
    passwordRow->addWidget(Labels::symbol(QStringLiteral("lock.fill"), Style::accent(), 13));
    m_bannerPassword = new QLabel;
    m_bannerPassword->setObjectName(QStringLiteral("bannerPassword"));
    QFont mono = Style::font(Style::Text::Callout);
    mono.setStyleHint(QFont::Monospace);
    mono.setFamily(QStringLiteral("monospace"));
    m_bannerPassword->setFont(mono);
    m_bannerPassword->setTextInteractionFlags(Qt::TextSelectableByMouse);
    passwordRow->addWidget(m_bannerPassword);
    passwordRow->addStretch(1);
    auto* copyPassword = new QPushButton(QStringLiteral("Passwort kopieren"));
    Style::setFont(copyPassword, Style::Text::Caption);
    copyPassword->setAccessibleName(copyPassword->text());
    connect(copyPassword, &QPushButton::clicked, this, [this] {
        if (!m_manager || !m_desktop)
            return;
        const auto completed = m_manager->justCompleted();
        if (completed && completed->password)
            m_desktop->copyText(*completed->password);
    });
    passwordRow->addWidget(copyPassword);
    lines->addWidget(m_bannerPasswordRow);

    m_bannerBox = padded(banner, 16, 12, 16, 0);
    return m_bannerBox;
}

QWidget* SendenTabView::buildProgress() {
    auto* block = new QWidget;
    auto* lines = new QVBoxLayout(block);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->setSpacing(6);

    m_progressBar = new QProgressBar;
    m_progressBar->setRange(0, 1000);
    m_progressBar->setTextVisible(false);
    m_progressBar->setFixedHeight(8);
    QPalette palette = m_progressBar->palette();
    palette.setColor(QPalette::Highlight, Style::blue());
    m_progressBar->setPalette(palette);
    m_progressBar->setAccessibleName(QStringLiteral("Upload-Fortschritt"));
    lines->addWidget(m_progressBar);

    auto* row = new QHBoxLayout;
    m_progressText = Labels::text(Style::Text::Caption, Style::secondary());
    m_progressText->setObjectName(QStringLiteral("progressText"));
    row->addWidget(m_progressText);
    row->addStretch(1);
    auto* cancel = symbolButton(QStringLiteral("xmark.circle.fill"), Style::secondary(), 16,
                                QStringLiteral("Upload abbrechen"));
    cancel->setToolTip(QStringLiteral("Upload abbrechen"));
    connect(cancel, &QToolButton::clicked, this, [this] {
        if (m_manager)
            m_manager->cancelUpload();
    });
    row->addWidget(cancel);
    lines->addLayout(row);

    m_queueLine = Labels::text(Style::Text::Caption2, Style::orange());
    m_queueLine->setObjectName(QStringLiteral("queueLine"));
    lines->addWidget(m_queueLine);

    m_progressBox = padded(block, 16, 12, 16, 0);
    return m_progressBox;
}

QWidget* SendenTabView::buildError() {
    auto* line = new QWidget;
    auto* row = new QHBoxLayout(line);
    row->setContentsMargins(0, 0, 0, 0);
    auto* icon = Labels::symbol(QStringLiteral("exclamationmark.triangle"), Style::red(), 14);
    row->addWidget(icon, 0, Qt::AlignTop);
    // At most two lines; a longer message ends in "…".
    m_errorText = new ElidedLabel(Qt::ElideRight, 2);
    m_errorText->setObjectName(QStringLiteral("errorText"));
    Style::setFont(m_errorText, Style::Text::Caption);
    Style::setTextColor(m_errorText, Style::red());
    row->addWidget(m_errorText, 1);
    m_errorBox = padded(line, 16, 8, 16, 0);
    return m_errorBox;
}

QWidget* SendenTabView::buildHint() {
    m_hint = new QWidget;
    m_hint->setObjectName(QStringLiteral("hint"));
    auto* lines = new QVBoxLayout(m_hint);
    lines->setContentsMargins(0, 32, 0, 32);
    lines->setSpacing(6);
    lines->addStretch(1);
    lines->addWidget(Labels::symbol(QStringLiteral("arrow.up.doc"), Style::secondary(), 28), 0,
                     Qt::AlignHCenter);
    auto* text = Labels::text(Style::Text::Caption, Style::secondary());
    text->setObjectName(QStringLiteral("hintText"));
    Labels::setText(
        text, QStringLiteral("Dateien auf das Menüleisten-Symbol ziehen,\num einen Upload zu starten."));
    text->setAlignment(Qt::AlignCenter);
    lines->addWidget(text);
    lines->addStretch(1);
    return m_hint;
}

QWidget* SendenTabView::buildList() {
    m_list = new QScrollArea;
    m_list->setObjectName(QStringLiteral("transferList"));
    m_list->setAccessibleName(QStringLiteral("Gesendete Dateien"));
    m_rows.emplace(m_list, 14);
    return m_list;
}

QWidget* SendenTabView::buildFooter() {
    auto* footer = new RefreshFooter;
    connect(footer, &RefreshFooter::refreshRequested, this, [this] {
        DetachedTask::start(m_manager, [](TransferManager& manager) { return manager.refreshOutgoing(); });
    });
    return footer;
}

void SendenTabView::updateBanner() {
    const auto completed = m_manager->justCompleted();
    m_bannerBox->setVisible(completed.has_value());
    if (!completed)
        return;
    m_bannerFileName->setFullText(completed->fileName);
    m_bannerLink->setFullText(completed->downloadURL);
    Labels::setText(m_bannerPassword, completed->password.value_or(QString()));
    m_bannerPasswordRow->setVisible(completed->password.has_value());
}

void SendenTabView::updateProgress() {
    m_progressBar->setValue(qRound(qBound(0.0, m_manager->uploadPercent(), 1.0) * 1000));
    Labels::setText(m_progressText, m_manager->uploadProgress());
}

void SendenTabView::updateQueue() {
    const int count = m_manager->queueCount();
    m_queueLine->setVisible(count > 0);
    if (count > 0)
        Labels::setText(m_queueLine, QString::number(count) + QStringLiteral(" weitere") +
                                         (count == 1 ? QStringLiteral("r") : QString()) +
                                         QStringLiteral(" Upload") +
                                         (count != 1 ? QStringLiteral("s") : QString()) +
                                         QStringLiteral(" in Warteschlange"));
}

void SendenTabView::updateError() {
    const auto message = m_manager->errorMessage();
    m_errorBox->setVisible(message.has_value());
    m_errorText->setFullText(message.value_or(QString()));
}

void SendenTabView::updateChoice() {
    const bool hint =
        m_manager->transfers().isEmpty() && !m_manager->isUploading() && !m_manager->justCompleted();
    m_hint->setVisible(hint);
    m_list->setVisible(!hint);
}

QList<TransferRowView*> SendenTabView::rows() const {
    return m_rows->rows();
}

TransferRowView* SendenTabView::makeRow(const TransferItem& transfer) {
    auto* row = new TransferRowView(transfer, m_manager, m_desktop);
    connect(row, &TransferRowView::copyLinkRequested, this, [this, row] {
        if (m_manager)
            m_manager->copyLink(row->transfer());
    });
    connect(row, &TransferRowView::downloadRequested, this, [this, row] {
        DetachedTask::start(m_manager, [item = row->transfer()](TransferManager& manager) {
            return manager.downloadOutgoing(item);
        });
    });
    connect(row, &TransferRowView::deleteRequested, this, [this, row] {
        if (m_manager)
            m_manager->deleteTransfer(row->transfer());
    });
    return row;
}

void SendenTabView::syncRows() {
    m_rows->sync(
        m_manager->transfers(), [](const TransferItem& item) { return item.id; },
        [](TransferRowView* row, const TransferItem& item) { row->setTransfer(item); },
        [this](const TransferItem& item) { return makeRow(item); });
}
