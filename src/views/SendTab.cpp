#include "views/SendTab.h"

#include "transfers/Detached.h"
#include "transfers/SentTransfers.h"
#include "transfers/TransferPresenter.h"
#include "transfers/Uploads.h"
#include "views/ElidedLabel.h"
#include "views/Labels.h"
#include "views/RefreshFooter.h"
#include "views/RowListView.h"
#include "views/SentRowPainter.h"
#include "views/Style.h"
#include "views/TransferActions.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <memory>

namespace {
QWidget* padded(QWidget* content, int left, int top, int right, int bottom) {
    auto* box = new QWidget;
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(left, top, right, bottom);
    layout->setSpacing(0);
    layout->addWidget(content);
    return box;
}

} // namespace

SendTab::SendTab(Uploads* uploads, SentTransfers* sent, SentTransferOperations* operations, QWidget* parent)
    : QWidget(parent), m_uploads(uploads), m_sent(sent), m_operations(operations) {
    Q_ASSERT(uploads && sent && operations);
    setAccessibleName(QCoreApplication::translate("SendTab", "Senden"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildBanner());
    layout->addWidget(buildProgress());
    layout->addWidget(buildError());
    layout->addWidget(buildHint(), 1);
    layout->addWidget(buildList(), 1);
    layout->addWidget(buildFooter());

    connect(uploads, &Uploads::justCompletedChanged, this, [this] {
        updateBanner();
        updateChoice();
    });
    connect(uploads, &Uploads::isUploadingChanged, this, [this] {
        m_progressBox->setVisible(m_uploads->isUploading());
        updateChoice();
    });
    connect(uploads, &Uploads::progressChanged, this, &SendTab::updateProgress);
    connect(uploads, &Uploads::progressTextChanged, this, &SendTab::updateProgress);
    connect(uploads, &Uploads::queueCountChanged, this, &SendTab::updateQueue);
    // One error line for both: the latest failure shows; a new upload clears both.
    connect(uploads, &Uploads::errorChanged, this, [this] { showError(m_uploads->error()); });
    connect(sent, &SentTransfers::errorChanged, this, [this] { showError(m_sent->error()); });
    connect(sent, &SentTransfers::transfersChanged, this, &SendTab::updateChoice);

    updateBanner();
    m_progressBox->setVisible(uploads->isUploading());
    updateProgress();
    updateQueue();
    showError(uploads->error() ? uploads->error() : sent->error());
    updateChoice();
}

QWidget* SendTab::buildBanner() {
    auto* banner = new QFrame;
    banner->setObjectName(QStringLiteral("banner"));
    banner->setAccessibleName(QCoreApplication::translate("SendTab", "Upload fertig"));
    banner->setStyleSheet(
        QStringLiteral("QFrame#banner { background: %1; border: 1px solid %2; border-radius: 6px; }")
            .arg(Style::css(Style::faded(Style::green(), 0.10)),
                 Style::css(Style::faded(Style::green(), 0.40))));
    auto* lines = new QVBoxLayout(banner);
    lines->setContentsMargins(8, 8, 8, 8);
    lines->setSpacing(6);

    auto* title = new QHBoxLayout;
    title->setSpacing(6);
    title->addWidget(Labels::symbol(QStringLiteral("emblem-ok-filled"), Style::green(), 14));
    auto* done = new QLabel;
    Style::setFont(done, Style::Text::Caption, QFont::DemiBold);
    Labels::setText(done, QCoreApplication::translate("SendTab", "Upload fertig"));
    title->addWidget(done);
    title->addStretch(1);
    auto* close = Style::symbolButton(10, {}, QCoreApplication::translate("SendTab", "Schließen"));
    close->setObjectName(QStringLiteral("bannerClose"));
    close->setIcon(Style::icon(QStringLiteral("window-close"), Style::secondary()));
    connect(close, &QToolButton::clicked, m_uploads, &Uploads::dismissJustCompleted);
    title->addWidget(close);
    lines->addLayout(title);

    m_bannerFileName = Labels::text<ElidedLabel>(Style::Text::Fine, Style::secondary());
    m_bannerFileName->setObjectName(QStringLiteral("bannerFileName"));
    lines->addWidget(m_bannerFileName);

    auto* linkRow = new QHBoxLayout;
    linkRow->setSpacing(6);
    auto* linkTitle = Labels::text(Style::Text::Fine, Style::secondary());
    Labels::setText(linkTitle, QCoreApplication::translate("SendTab", "Link:"));
    linkRow->addWidget(linkTitle);
    m_bannerLink = new ElidedLabel(Qt::ElideMiddle);
    m_bannerLink->setObjectName(QStringLiteral("bannerLink"));
    Style::setFont(m_bannerLink, Style::Text::Fine);
    m_bannerLink->setTextInteractionFlags(Qt::TextSelectableByMouse);
    linkRow->addWidget(m_bannerLink);
    linkRow->addStretch(1);
    auto* copyLink = new QPushButton(QCoreApplication::translate("SendTab", "Kopieren"));
    copyLink->setObjectName(QStringLiteral("bannerCopyLink"));
    Style::setFont(copyLink, Style::Text::Fine);
    copyLink->setAccessibleName(copyLink->text());
    connect(copyLink, &QPushButton::clicked, m_uploads, &Uploads::copyCompletedLink);
    linkRow->addWidget(copyLink);
    lines->addLayout(linkRow);

    m_bannerPasswordRow = new QWidget;
    auto* passwordRow = new QHBoxLayout(m_bannerPasswordRow);
    passwordRow->setContentsMargins(0, 0, 0, 0);
    passwordRow->setSpacing(6);
    passwordRow->addWidget(Labels::symbol(QStringLiteral("lock-filled"), Style::accent(), 13));
    m_bannerPassword = new QLabel;
    m_bannerPassword->setTextFormat(Qt::PlainText);
    m_bannerPassword->setObjectName(QStringLiteral("bannerPassword"));
    m_bannerPassword->setFont(Style::monospaceFont(Style::Text::Small));
    m_bannerPassword->setTextInteractionFlags(Qt::TextSelectableByMouse);
    passwordRow->addWidget(m_bannerPassword);
    passwordRow->addStretch(1);
    auto* copyPassword = new QPushButton(QCoreApplication::translate("SendTab", "Passwort kopieren"));
    copyPassword->setObjectName(QStringLiteral("bannerCopyPassword"));
    Style::setFont(copyPassword, Style::Text::Caption);
    copyPassword->setAccessibleName(copyPassword->text());
    connect(copyPassword, &QPushButton::clicked, m_uploads, &Uploads::copyCompletedPassword);
    passwordRow->addWidget(copyPassword);
    lines->addWidget(m_bannerPasswordRow);

    m_bannerBox = padded(banner, 16, 12, 16, 0);
    return m_bannerBox;
}

QWidget* SendTab::buildProgress() {
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
    m_progressBar->setAccessibleName(QCoreApplication::translate("SendTab", "Upload-Fortschritt"));
    lines->addWidget(m_progressBar);

    auto* row = new QHBoxLayout;
    // A long file name in the progress line ends in "…" instead of being cut.
    m_progressText = new ElidedLabel(Qt::ElideRight);
    Style::setFont(m_progressText, Style::Text::Caption);
    Style::setTextColor(m_progressText, Style::secondary());
    m_progressText->setObjectName(QStringLiteral("progressText"));
    row->addWidget(m_progressText, 1);
    auto* cancel = Style::symbolButton(16, QCoreApplication::translate("SendTab", "Upload abbrechen"));
    cancel->setObjectName(QStringLiteral("cancelUpload"));
    cancel->setIcon(Style::icon(QStringLiteral("edit-clear"), Style::secondary()));
    connect(cancel, &QToolButton::clicked, m_uploads, &Uploads::cancelUpload);
    row->addWidget(cancel);
    lines->addLayout(row);

    m_queueLine = Labels::text(Style::Text::Fine, Style::orange());
    m_queueLine->setObjectName(QStringLiteral("queueLine"));
    lines->addWidget(m_queueLine);

    m_progressBox = padded(block, 16, 12, 16, 0);
    return m_progressBox;
}

QWidget* SendTab::buildError() {
    auto* line = new QWidget;
    auto* row = new QHBoxLayout(line);
    row->setContentsMargins(0, 0, 0, 0);
    auto* icon = Labels::symbol(QStringLiteral("dialog-warning"), Style::red(), 14);
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

QWidget* SendTab::buildHint() {
    m_hint = new QWidget;
    m_hint->setObjectName(QStringLiteral("hint"));
    auto* lines = new QVBoxLayout(m_hint);
    lines->setContentsMargins(0, 32, 0, 32);
    lines->setSpacing(6);
    lines->addStretch(1);
    lines->addWidget(Labels::symbol(QStringLiteral("document-send"), Style::secondary(), 28), 0,
                     Qt::AlignHCenter);
    auto* text = Labels::text(Style::Text::Caption, Style::secondary());
    text->setObjectName(QStringLiteral("hintText"));
    Labels::setText(text,
                    QCoreApplication::translate(
                        "SendTab", "Dateien hierher ziehen oder auswählen,\num einen Upload zu starten."));
    text->setAlignment(Qt::AlignCenter);
    lines->addWidget(text);
    lines->addSpacing(6);

    // One dialog cannot offer files and folders together: files are the common case, a folder
    // has its own button.
    auto* files = new QPushButton(QCoreApplication::translate("SendTab", "Dateien auswählen…"));
    files->setObjectName(QStringLiteral("chooseFiles"));
    files->setAccessibleName(files->text());
    connect(files, &QPushButton::clicked, this, [this] { chooseFiles(Choice::Files); });
    lines->addWidget(files, 0, Qt::AlignHCenter);
    auto* folder = new QPushButton(QCoreApplication::translate("SendTab", "Ordner auswählen…"));
    folder->setObjectName(QStringLiteral("chooseFolder"));
    folder->setFlat(true);
    folder->setAccessibleName(folder->text());
    Style::setFont(folder, Style::Text::Caption);
    connect(folder, &QPushButton::clicked, this, [this] { chooseFiles(Choice::Folder); });
    lines->addWidget(folder, 0, Qt::AlignHCenter);
    lines->addStretch(1);
    return m_hint;
}

void SendTab::chooseFiles(Choice choice) {
    // One chooser at a time: the tray menu may ask again while one is open.
    if (auto* open = window()->findChild<QFileDialog*>(QStringLiteral("fileChooser"))) {
        open->raise();
        open->activateWindow();
        return;
    }
    // Without the option to use Qt's own dialog, QFileDialog shows the desktop's chooser (through
    // the portal where there is one); open() keeps the panel responsive meanwhile.
    auto* dialog = new QFileDialog(
        window(), choice == Choice::Folder ? QCoreApplication::translate("SendTab", "Ordner auswählen")
                                           : QCoreApplication::translate("SendTab", "Dateien auswählen"));
    dialog->setObjectName(QStringLiteral("fileChooser"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setSupportedSchemes({QStringLiteral("file")});
    dialog->setDirectory(QDir::homePath());
    if (choice == Choice::Folder) {
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly);
    } else {
        dialog->setFileMode(QFileDialog::ExistingFiles);
    }
    QPointer<Uploads> uploads(m_uploads);
    // filesSelected, not urlsSelected: Qt's own dialog emits only the former, the desktop's both.
    connect(dialog, &QFileDialog::filesSelected, this, [uploads](const QStringList& paths) {
        QList<QUrl> files;
        for (const QString& path : paths)
            files << QUrl::fromLocalFile(path);
        if (uploads && !files.isEmpty())
            uploads->uploadFiles(files, std::nullopt, false);
    });
    dialog->open();
}

QWidget* SendTab::buildList() {
    RecordListModel<TransferItem>* model = m_sent->model();
    RowListView::Rows rows;
    constexpr int rightMargin = 14;
    RowListView::paintWith(rows, model, std::make_shared<SentRowPainter>(rightMargin));
    rows.menu = [this, model](const QModelIndex& index, const QString& button) {
        return TransferActions::menu(button, model->record(index.row()), m_sent, m_operations, m_list);
    };
    // What is open in a row.
    const auto open = [](const QModelIndex& index, RowStates::Flag flag) {
        return (index.data(RowStates::Role).toInt() & flag) != 0;
    };
    rows.actions = [model, open](const QModelIndex& index) {
        const TransferItem& transfer = model->record(index.row());
        return TransferPresenter(transfer).actions(open(index, RowStates::PasswordShown) &&
                                                   transfer.password.has_value());
    };
    rows.invoke = [this, model](const QModelIndex& index, const QString& action) {
        const TransferItem transfer = model->record(index.row()); // deleting it changes the model
        return TransferActions::invoke(action, transfer, m_sent, m_operations, m_list);
    };
    rows.description = [model](const QModelIndex& index) {
        return TransferPresenter(model->record(index.row())).accessibleDescription();
    };
    rows.canUnfold = [model](const QModelIndex& index) {
        return TransferPresenter(model->record(index.row())).canUnfold();
    };
    m_list = new RowListView(model, std::move(rows), rightMargin);
    m_list->setObjectName(QStringLiteral("transferList"));
    m_list->setAccessibleName(QCoreApplication::translate("SendTab", "Gesendete Dateien"));
    return m_list;
}

QWidget* SendTab::buildFooter() {
    auto* footer = new RefreshFooter;
    connect(footer, &RefreshFooter::refreshRequested, this, [this] { detach(m_sent->refresh(), m_sent); });
    return footer;
}

void SendTab::updateBanner() {
    const auto completed = m_uploads->justCompleted();
    m_bannerBox->setVisible(completed.has_value());
    if (!completed)
        return;
    m_bannerFileName->setFullText(completed->fileName);
    m_bannerLink->setFullText(completed->downloadURL);
    Labels::setText(m_bannerPassword, completed->password.value_or(QString()));
    m_bannerPasswordRow->setVisible(completed->password.has_value());
}

void SendTab::updateProgress() {
    m_progressBar->setValue(qRound(qBound(0.0, m_uploads->progress(), 1.0) * 1000));
    m_progressText->setFullText(m_uploads->progressText());
}

void SendTab::updateQueue() {
    const int count = m_uploads->queueCount();
    m_queueLine->setVisible(count > 0);
    if (count > 0)
        Labels::setText(
            m_queueLine,
            count == 1
                ? QCoreApplication::translate("SendTab", "1 weiterer Upload in Warteschlange")
                : QCoreApplication::translate("SendTab", "%1 weitere Uploads in Warteschlange").arg(count));
}

void SendTab::showError(std::optional<QString> message) {
    if (!message)
        message = m_uploads->error() ? m_uploads->error() : m_sent->error();
    m_errorBox->setVisible(message.has_value());
    m_errorText->setFullText(message.value_or(QString()));
}

void SendTab::updateChoice() {
    const bool hint =
        m_sent->transfers().isEmpty() && !m_uploads->isUploading() && !m_uploads->justCompleted();
    m_hint->setVisible(hint);
    m_list->setVisible(!hint);
}
