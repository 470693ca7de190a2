#include "views/ReceiveTab.h"

#include "models/UserText.h"
#include "transfers/Detached.h"
#include "transfers/IncomingPresenter.h"
#include "transfers/ReceivedUploads.h"
#include "views/AlertDialog.h"
#include "views/ElidedLabel.h"
#include "views/IncomingRowPainter.h"
#include "views/Labels.h"
#include "views/RefreshFooter.h"
#include "views/RowListView.h"
#include "views/Style.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <memory>

ReceiveTab::ReceiveTab(ReceivedUploads* received, QWidget* parent) : QWidget(parent), m_received(received) {
    Q_ASSERT(received);
    setAccessibleName(QCoreApplication::translate("ReceiveTab", "Empfangen"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildNotConfigured(), 1);

    m_content = new QWidget;
    auto* content = new QVBoxLayout(m_content);
    content->setContentsMargins(0, 0, 0, 0);
    content->setSpacing(0);
    content->addWidget(buildDownloadLine());
    content->addWidget(buildErrorLine());
    content->addWidget(buildEmptyView(), 1);
    content->addWidget(buildList(), 1);
    content->addWidget(buildFooter());
    layout->addWidget(m_content, 1);

    connect(received, &ReceivedUploads::isDownloadingChanged, this, &ReceiveTab::updateDownload);
    connect(received, &ReceivedUploads::downloadProgressChanged, this, &ReceiveTab::updateDownload);
    connect(received, &ReceivedUploads::errorChanged, this, &ReceiveTab::updateError);
    connect(received, &ReceivedUploads::configuredChanged, this, &ReceiveTab::updateConfigured);
    connect(received, &ReceivedUploads::uploadsChanged, this, [this] {
        updateEmpty();
        updateConfigured();
    });

    updateDownload();
    updateError();
    updateEmpty();
    updateConfigured();
}

QWidget* ReceiveTab::buildNotConfigured() {
    m_notConfigured = new QWidget;
    m_notConfigured->setObjectName(QStringLiteral("notConfigured"));
    auto* lines = new QVBoxLayout(m_notConfigured);
    lines->setContentsMargins(16, 16, 16, 16);
    lines->setSpacing(12);
    lines->addStretch(1);
    lines->addWidget(Labels::symbol(QStringLiteral("network-server"), Style::secondary(), 32), 0,
                     Qt::AlignHCenter);
    auto* title = Labels::text(Style::Text::Caption, Style::secondary());
    Labels::setText(title, QCoreApplication::translate("ReceiveTab", "Transfer-Server nicht konfiguriert"));
    lines->addWidget(title, 0, Qt::AlignHCenter);
    auto* open = new QPushButton(QCoreApplication::translate("ReceiveTab", "Einstellungen öffnen"));
    open->setObjectName(QStringLiteral("openSettingsButton"));
    open->setAccessibleName(open->text());
    Style::setFont(open, Style::Text::Caption);
    connect(open, &QPushButton::clicked, this, &ReceiveTab::settingsRequested);
    lines->addWidget(open, 0, Qt::AlignHCenter);
    lines->addStretch(1);
    return m_notConfigured;
}

QWidget* ReceiveTab::buildDownloadLine() {
    m_downloadLine = new QWidget;
    m_downloadLine->setObjectName(QStringLiteral("downloadLine"));
    auto* row = new QHBoxLayout(m_downloadLine);
    row->setContentsMargins(16, 8, 16, 8);
    row->setSpacing(8);
    m_spinner = Style::spinner(22);
    row->addWidget(m_spinner);
    m_downloadText = new ElidedLabel(Qt::ElideRight);
    Style::setFont(m_downloadText, Style::Text::Caption);
    Style::setTextColor(m_downloadText, Style::secondary());
    m_downloadText->setObjectName(QStringLiteral("downloadText"));
    row->addWidget(m_downloadText, 1);
    return m_downloadLine;
}

QWidget* ReceiveTab::buildErrorLine() {
    m_errorLine = new QWidget;
    m_errorLine->setObjectName(QStringLiteral("errorLine"));
    m_errorLine->setAttribute(Qt::WA_StyledBackground);
    m_errorLine->setStyleSheet(QStringLiteral("QWidget#errorLine { background: %1; }")
                                   .arg(Style::css(Style::faded(Style::orange(), 0.10))));
    auto* row = new QHBoxLayout(m_errorLine);
    row->setContentsMargins(16, 6, 16, 6);
    row->addWidget(Labels::symbol(QStringLiteral("dialog-warning"), Style::orange(), 14), 0, Qt::AlignTop);
    // At most two lines; a longer message ends in "…".
    m_errorText = new ElidedLabel(Qt::ElideRight, 2);
    m_errorText->setObjectName(QStringLiteral("errorText"));
    Style::setFont(m_errorText, Style::Text::Fine);
    m_errorText->setStyleSheet(QStringLiteral("color: %1").arg(Style::css(Style::orange())));
    row->addWidget(m_errorText, 1);
    auto* close = new QToolButton;
    close->setObjectName(QStringLiteral("closeErrorButton"));
    close->setAutoRaise(true);
    close->setIcon(Style::icon(QStringLiteral("window-close")));
    close->setIconSize(QSize(10, 10));
    close->setAccessibleName(QCoreApplication::translate("ReceiveTab", "Schließen"));
    close->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 0; }"));
    connect(close, &QToolButton::clicked, this, [this] { m_received->setError(std::nullopt); });
    row->addWidget(close, 0, Qt::AlignTop);
    return m_errorLine;
}

QWidget* ReceiveTab::buildEmptyView() {
    m_emptyView = new QWidget;
    m_emptyView->setObjectName(QStringLiteral("emptyView"));
    auto* lines = new QVBoxLayout(m_emptyView);
    lines->setContentsMargins(16, 16, 16, 16);
    lines->setSpacing(8);
    lines->addStretch(1);
    lines->addWidget(Labels::symbol(QStringLiteral("mail-inbox"), Style::secondary(), 24), 0,
                     Qt::AlignHCenter);
    auto* title = Labels::text(Style::Text::Caption, Style::secondary());
    Labels::setText(title, QCoreApplication::translate("ReceiveTab", "Keine Kunden-Uploads"));
    lines->addWidget(title, 0, Qt::AlignHCenter);
    auto* hint = Labels::text(Style::Text::Fine, Style::secondary());
    Labels::setText(
        hint, QCoreApplication::translate("ReceiveTab", "Kunden können Dateien über die Webseite senden"));
    hint->setAlignment(Qt::AlignCenter);
    hint->setWordWrap(true);
    lines->addWidget(hint);
    lines->addStretch(1);
    return m_emptyView;
}

QWidget* ReceiveTab::buildList() {
    RecordListModel<IncomingUpload>* model = m_received->model();
    RowListView::Rows rows;
    RowListView::paintWith(rows, model, std::make_shared<IncomingRowPainter>());
    rows.actions = [model](const QModelIndex& index) {
        return IncomingPresenter(model->record(index.row())).actions();
    };
    rows.invoke = [this, model](const QModelIndex& index, const QString& action) {
        const IncomingUpload upload = model->record(index.row()); // deleting it changes the model
        RowStates* states = model->states();
        if (action == IncomingPresenter(upload).downloadButton()) {
            detach(m_received->downloadIncoming(upload), m_received);
        } else if (action == UserText::copyLink()) {
            m_received->copyLink(upload, true);
        } else if (action == UserText::deleteFromServer()) {
            confirmAndDelete(upload);
        } else if (action == QCoreApplication::translate("IncomingPresenter", "Details")) {
            states->set(upload.token, RowStates::Unfolded, !states->has(upload.token, RowStates::Unfolded));
        } else {
            return false;
        }
        return true;
    };
    rows.canUnfold = [model](const QModelIndex& index) {
        return IncomingPresenter(model->record(index.row())).canUnfold();
    };
    m_list = new RowListView(model, std::move(rows), 0);
    m_list->setObjectName(QStringLiteral("incomingList"));
    m_list->setAccessibleName(QCoreApplication::translate("ReceiveTab", "Kunden-Uploads"));
    return m_list;
}

QWidget* ReceiveTab::buildFooter() {
    auto* footer = new RefreshFooter;
    connect(footer, &RefreshFooter::refreshRequested, this,
            [this] { detach(m_received->refresh(), m_received); });
    return footer;
}

void ReceiveTab::showEvent(QShowEvent* event) {
    updateConfigured();
    m_received->checkConfiguration(); // a key removed elsewhere shows once the store answers
    QWidget::showEvent(event);
}

void ReceiveTab::updateConfigured() {
    const bool configured = m_received->isConfigured();
    m_notConfigured->setVisible(!configured);
    m_content->setVisible(configured);
}

void ReceiveTab::updateDownload() {
    const QString progress = m_received->downloadProgress();
    m_downloadLine->setVisible(m_received->isDownloading());
    m_downloadText->setFullText(progress);
    m_spinner->setAccessibleName(progress);
}

void ReceiveTab::updateError() {
    const auto message = m_received->error();
    m_errorLine->setVisible(message.has_value());
    m_errorText->setFullText(message.value_or(QString()));
}

void ReceiveTab::confirmAndDelete(const IncomingUpload& upload) {
    // The answer comes later, when the list may have changed: it goes by token, and an upload that
    // is gone by then is left alone.
    const QPointer<ReceivedUploads> received(m_received);
    AlertDialog::ask(
        this, QCoreApplication::translate("ReceiveTab", "Eingang von %1 löschen?").arg(upload.customerName),
        QCoreApplication::translate("ReceiveTab", "Die Dateien werden unwiderruflich vom Server entfernt."),
        {QCoreApplication::translate("ReceiveTab", "Löschen"),
         QCoreApplication::translate("ReceiveTab", "Abbrechen")},
        m_received, [received, token = upload.token](int answer) {
            if (answer != 0)
                return;
            const QList<IncomingUpload> uploads = received->uploads();
            for (const IncomingUpload& listed : uploads) {
                if (listed.token == token) {
                    received->remove(listed);
                    return;
                }
            }
        });
}

void ReceiveTab::updateEmpty() {
    const bool empty = m_received->uploads().isEmpty();
    m_emptyView->setVisible(empty);
    m_list->setVisible(!empty);
}
