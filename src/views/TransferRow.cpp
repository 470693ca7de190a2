#include "views/TransferRow.h"

#include "models/UserText.h"
#include "transfers/Detached.h"
#include "transfers/SentTransfers.h"
#include "transfers/TransferPresenter.h"
#include "views/AlertDialog.h"
#include "views/CopiedOverlay.h"
#include "views/ElidedLabel.h"
#include "views/FileTypeIcon.h"
#include "views/Labels.h"
#include "views/RenameDialog.h"
#include "views/Style.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
std::chrono::milliseconds passwordCopiedDuration{1500};

constexpr int bodyIcon = 16;
constexpr int calloutIcon = 15;
constexpr int captionIcon = 13;
constexpr int caption2Icon = 12;
constexpr int fileLineHeight = 18;
constexpr int fileLinesShown = 10;

QToolButton* symbolButton(const QString& tooltip, const QString& accessibleName = {}) {
    return Style::symbolButton(bodyIcon, tooltip, accessibleName, QSize(22, 28));
}

// Asks for the password, the transfer's row loading meanwhile and showing it then, whichever row
// stands for the code by then. The sent transfers report a failure themselves.
void requestPassword(SentTransfers* sent, const QString& code, bool generate) {
    RowStates* states = sent->model()->states();
    states->set(code, RowStates::PasswordLoading, true);
    auto request = generate ? sent->regeneratePassword(code) : sent->revealPassword(code);
    detach(std::move(request), states, [states, code](std::optional<QString>) {
        states->set(code, RowStates::PasswordLoading, false);
        states->set(code, RowStates::PasswordShown, true);
    });
}
void revealPasswordOf(SentTransfers* sent, const TransferItem& transfer) {
    if (transfer.password)
        sent->model()->states()->set(transfer.code, RowStates::PasswordShown, true);
    else
        requestPassword(sent, transfer.code, false);
}

void copyFromPasswordLine(SentTransfers* sent, const TransferItem& transfer) {
    // "Kopiert" only once the clipboard took it.
    if (transfer.password && sent->copyPassword(transfer))
        sent->model()->states()->flash(transfer.code, RowStates::PasswordCopied, passwordCopiedDuration);
}

// The alert may outlive the row (a refresh rebuilds the list): the answer goes by code.
void askToRegenerate(QWidget* parent, SentTransfers* sent, const QString& code) {
    const QPointer<SentTransfers> guarded(sent);
    AlertDialog::ask(
        parent, QCoreApplication::translate("TransferRow", "Neues Passwort erzeugen?"),
        QCoreApplication::translate(
            "TransferRow",
            "Das aktuelle Passwort wird sofort ungültig. Kunden müssen mit dem neuen Passwort downloaden."),
        {QCoreApplication::translate("TransferRow", "Neu erzeugen"),
         QCoreApplication::translate("TransferRow", "Abbrechen")},
        sent, [guarded, code](int answer) {
            if (answer == 0 && guarded->contains(code))
                requestPassword(guarded, code, true);
        });
}

void askToRemovePassword(QWidget* parent, SentTransfers* sent, const QString& code) {
    const QPointer<SentTransfers> guarded(sent);
    AlertDialog::ask(
        parent, QCoreApplication::translate("TransferRow", "Passwortschutz entfernen?"),
        QCoreApplication::translate("TransferRow", "Der Link ist danach ohne Passwort abrufbar."),
        {QCoreApplication::translate("TransferRow", "Entfernen"),
         QCoreApplication::translate("TransferRow", "Abbrechen")},
        sent, [guarded, code](int answer) {
            if (answer != 0 || !guarded->contains(code))
                return;
            detach(guarded->removePassword(code), guarded, [guarded, code](bool) {
                guarded->model()->states()->set(code, RowStates::PasswordShown, false);
            });
        });
}

// Parented to the panel and tied to the code, so it stays open while refreshes rebuild the rows.
void openRenameDialogFor(QWidget* window, SentTransfers* sent, const TransferItem& transfer) {
    if (RenameDialog* open = RenameDialog::openFor(window, transfer.code)) {
        open->raise();
        open->activateWindow();
        return;
    }
    auto* dialog = new RenameDialog(transfer.code, transfer.fileName, sent, window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}
} // namespace

bool TransferRow::invoke(const QString& action, const TransferItem& transfer, SentTransfers* sent,
                         QWidget* parent) {
    RowStates* states = sent->model()->states();
    const QString& code = transfer.code;
    const int state = states->of(code);
    if (action == UserText::copyLink()) {
        if (sent->copyLink(transfer))
            states->flash(code, RowStates::LinkCopied, CopiedOverlay::duration());
    } else if (action == QCoreApplication::translate("TransferPresenter", "Passwort anzeigen")) {
        revealPasswordOf(sent, transfer);
    } else if (action == QCoreApplication::translate("TransferPresenter", "Passwort kopieren")) {
        // The password line's button while the line shows, else the menu's entry.
        if ((state & RowStates::PasswordShown) && transfer.password)
            copyFromPasswordLine(sent, transfer);
        else
            sent->copyPassword(transfer);
    } else if (action == QCoreApplication::translate("TransferPresenter", "Passwort erzeugen")) {
        requestPassword(sent, code, true);
    } else if (action == QCoreApplication::translate("TransferPresenter", "Neu erzeugen")) {
        askToRegenerate(parent, sent, code);
    } else if (action == QCoreApplication::translate("TransferPresenter", "Passwortschutz entfernen")) {
        askToRemovePassword(parent, sent, code);
    } else if (action == QCoreApplication::translate("TransferPresenter", "Verbergen")) {
        states->set(code, RowStates::PasswordShown, false);
    } else if (action == QCoreApplication::translate("TransferPresenter", "Herunterladen")) {
        detach(sent->downloadOutgoing(transfer), sent);
    } else if (action == QCoreApplication::translate("TransferPresenter", "Umbenennen…")) {
        openRenameDialogFor(parent->window(), sent, transfer);
    } else if (action == UserText::deleteFromServer()) {
        sent->remove(transfer);
    } else if (action == QCoreApplication::translate("TransferPresenter", "Dateiliste")) {
        states->set(code, RowStates::Unfolded, !(state & RowStates::Unfolded));
    } else {
        return false;
    }
    return true;
}

TransferRow::TransferRow(const TransferItem& transfer, SentTransfers* sent, QWidget* parent)
    : QWidget(parent), m_transfer(transfer), m_sent(sent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    buildMainLine(layout);
    buildPasswordLine(layout);
    buildLoadingLine(layout);

    m_fileList = new QWidget;
    auto* fileListLayout = new QVBoxLayout(m_fileList);
    fileListLayout->setContentsMargins(16, 0, 16, 8);
    m_fileScroll = new QScrollArea;
    m_fileScroll->setFrameShape(QFrame::NoFrame);
    m_fileScroll->setWidgetResizable(true);
    m_fileScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_fileScroll->setAccessibleName(QCoreApplication::translate("TransferRow", "Dateiliste"));
    fileListLayout->addWidget(m_fileScroll);
    layout->addWidget(m_fileList);
    m_fileList->hide();

    m_state = states()->of(m_transfer.code);
    connect(states(), &RowStates::changed, this, [this](const QString& code) {
        if (code == m_transfer.code && states()->of(code) != m_state) {
            m_state = states()->of(code);
            refresh();
        }
    });
    rebuildPasswordMenu();
    refresh();
}

RowStates* TransferRow::states() const {
    return m_sent->model()->states();
}

void TransferRow::set(RowStates::Flag flag, bool on) {
    states()->set(m_transfer.code, flag, on);
}

void TransferRow::buildMainLine(QVBoxLayout* layout) {
    m_mainLine = new QWidget;
    m_mainLine->setObjectName(QStringLiteral("mainLine"));
    m_mainLine->installEventFilter(this);
    auto* line = new QHBoxLayout(m_mainLine);
    line->setContentsMargins(8, 6, 8, 6);
    line->setSpacing(10);

    m_typeIcon = new FileTypeIcon(m_transfer.fileName, 24);
    line->addWidget(m_typeIcon);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* nameRow = new QHBoxLayout;
    nameRow->setSpacing(4);
    m_name = new ElidedLabel(Qt::ElideMiddle);
    Style::setFont(m_name, Style::Text::Caption, QFont::Medium);
    nameRow->addWidget(m_name);
    m_lock = Labels::symbol(QStringLiteral("lock.fill"), Style::accent(), caption2Icon);
    m_lock->setToolTip(QCoreApplication::translate("TransferRow", "Passwortgeschützt"));
    m_lock->setAccessibleName(QCoreApplication::translate("TransferRow", "Passwortgeschützt"));
    m_lock->setObjectName(QStringLiteral("lockIcon"));
    nameRow->addWidget(m_lock);
    nameRow->addStretch(1);
    texts->addLayout(nameRow);

    auto* dateRow = new QHBoxLayout;
    dateRow->setSpacing(4);
    m_date = Labels::text(Style::Text::Fine, Style::secondary());
    // In a narrow panel the download date gives way first, then the count; the upload date stays.
    m_fileCount = new ElidedLabel(Qt::ElideRight);
    Style::setFont(m_fileCount, Style::Text::Fine);
    Style::setTextColor(m_fileCount, Style::secondary());
    m_downloaded = new ElidedLabel(Qt::ElideRight);
    Style::setFont(m_downloaded, Style::Text::Fine);
    Style::setTextColor(m_downloaded, Style::green());
    // Ignoring its size hint, it takes whatever the others leave and nothing they need.
    m_downloaded->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    dateRow->addWidget(m_date);
    dateRow->addWidget(m_fileCount);
    dateRow->addWidget(m_downloaded, 1);
    texts->addLayout(dateRow);
    line->addLayout(texts, 1);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(0);
    // The menu pops up from a plain button, so no menu arrow is drawn.
    m_passwordButton = symbolButton(QString());
    m_passwordMenu = new QMenu(this);
    m_passwordMenu->setObjectName(QStringLiteral("passwordMenu"));
    connect(m_passwordButton, &QToolButton::clicked, this, [this] {
        m_passwordMenu->popup(m_passwordButton->mapToGlobal(QPoint(0, m_passwordButton->height())));
    });
    buttons->addWidget(m_passwordButton);

    auto* download = symbolButton(QCoreApplication::translate("TransferRow", "Herunterladen"));
    download->setObjectName(QStringLiteral("downloadButton"));
    download->setIcon(Style::icon(QStringLiteral("arrow.down.circle"), Style::accent()));
    connect(download, &QToolButton::clicked, this, &TransferRow::downloadRequested);
    buttons->addWidget(download);

    m_copyButton = symbolButton(UserText::copyLink());
    m_copyButton->setObjectName(QStringLiteral("copyLinkButton"));
    connect(m_copyButton, &QToolButton::clicked, this, &TransferRow::copyLinkAction);
    buttons->addWidget(m_copyButton);

    auto* remove = symbolButton(UserText::deleteFromServer());
    remove->setObjectName(QStringLiteral("deleteButton"));
    remove->setIconSize(QSize(calloutIcon, calloutIcon));
    remove->setIcon(Style::icon(QStringLiteral("trash"), Style::faded(Style::secondary(), 0.6)));
    connect(remove, &QToolButton::clicked, this, &TransferRow::deleteRequested);
    buttons->addWidget(remove);

    m_expandButton = symbolButton(QString(), QCoreApplication::translate("TransferRow", "Dateiliste"));
    // Hidden, it still holds its place, so the buttons of all rows stay in columns.
    Style::keepPlaceWhenHidden(m_expandButton);
    m_expandButton->setObjectName(QStringLiteral("expandButton"));
    connect(m_expandButton, &QToolButton::clicked, this, [this] { set(RowStates::Unfolded, !isExpanded()); });
    buttons->addWidget(m_expandButton);
    line->addLayout(buttons);

    m_contextMenu = new QMenu(this);
    m_contextMenu->setObjectName(QStringLiteral("contextMenu"));
    m_contextMenu->addAction(QCoreApplication::translate("TransferRow", "Umbenennen\u2026"), this,
                             &TransferRow::openRenameDialog);
    // Only the request: the overlay belongs to the button and the click on the line.
    m_contextMenu->addAction(UserText::copyLink(), this, &TransferRow::copyLinkRequested);
    m_contextMenu->addAction(QCoreApplication::translate("TransferRow", "Herunterladen"), this,
                             &TransferRow::downloadRequested);
    m_contextMenu->addSeparator();
    m_contextMenu->addAction(QCoreApplication::translate("TransferRow", "Löschen"), this,
                             &TransferRow::deleteRequested);

    layout->addWidget(m_mainLine);
}

void TransferRow::buildPasswordLine(QVBoxLayout* layout) {
    m_passwordLine = new QWidget;
    m_passwordLine->setObjectName(QStringLiteral("passwordLine"));
    m_passwordLine->setAutoFillBackground(true);
    QPalette background = m_passwordLine->palette();
    background.setColor(QPalette::Window, Style::faded(Style::secondary(), 0.08));
    m_passwordLine->setPalette(background);
    auto* line = new QHBoxLayout(m_passwordLine);
    line->setContentsMargins(12, 4, 12, 4);
    line->setSpacing(6);
    line->addWidget(Labels::symbol(QStringLiteral("lock.fill"), Style::accent(), caption2Icon));
    m_password = new QLabel;
    m_password->setTextFormat(Qt::PlainText);
    m_password->setObjectName(QStringLiteral("password"));
    m_password->setFont(Style::monospaceFont(Style::Text::Caption));
    m_password->setTextInteractionFlags(Qt::TextSelectableByMouse);
    line->addWidget(m_password);
    line->addStretch(1);
    m_copyPasswordButton = symbolButton(QCoreApplication::translate("TransferRow", "Passwort kopieren"));
    m_copyPasswordButton->setObjectName(QStringLiteral("copyPasswordButton"));
    m_copyPasswordButton->setFixedHeight(20);
    m_copyPasswordButton->setIconSize(QSize(caption2Icon, caption2Icon));
    connect(m_copyPasswordButton, &QToolButton::clicked, this, &TransferRow::copyPasswordFromLine);
    line->addWidget(m_copyPasswordButton);
    auto* hide = symbolButton(QCoreApplication::translate("TransferRow", "Verbergen"));
    hide->setObjectName(QStringLiteral("hidePasswordButton"));
    hide->setFixedHeight(20);
    hide->setIconSize(QSize(caption2Icon, caption2Icon));
    hide->setIcon(Style::icon(QStringLiteral("eye.slash"), Style::secondary()));
    connect(hide, &QToolButton::clicked, this, [this] { set(RowStates::PasswordShown, false); });
    line->addWidget(hide);
    layout->addWidget(m_passwordLine);
}

void TransferRow::buildLoadingLine(QVBoxLayout* layout) {
    m_loadingLine = new QWidget;
    m_loadingLine->setObjectName(QStringLiteral("loadingLine"));
    auto* line = new QHBoxLayout(m_loadingLine);
    line->setContentsMargins(12, 2, 12, 2);
    line->setSpacing(6);
    auto* spinner =
        Style::spinner(24, QCoreApplication::translate("TransferRow", "Passwort wird geladen..."));
    line->addWidget(spinner);
    auto* text = Labels::text(Style::Text::Fine, Style::secondary());
    Labels::setText(text, QCoreApplication::translate("TransferRow", "Passwort wird geladen..."));
    line->addWidget(text);
    line->addStretch(1);
    layout->addWidget(m_loadingLine);
}

void TransferRow::setPasswordCopiedDuration(std::chrono::milliseconds duration) {
    passwordCopiedDuration = duration;
}

void TransferRow::setTransfer(const TransferItem& transfer) {
    const int state = states()->of(transfer.code);
    if (transfer == m_transfer && state == m_state)
        return;
    const bool menuChanged = transfer.hasPassword != m_transfer.hasPassword;
    m_transfer = transfer;
    m_state = state;
    if (menuChanged)
        rebuildPasswordMenu();
    refresh();
}

void TransferRow::rebuildPasswordMenu() {
    m_passwordMenu->clear();
    const TransferPresenter presenter(m_transfer);
    // In the presenter's order; the entries that replace the password follow a separator.
    const QList<void (TransferRow::*)()> handlers =
        m_transfer.hasPassword
            ? QList<void (TransferRow::*)()>{&TransferRow::revealPassword, &TransferRow::copyPasswordOnly,
                                             &TransferRow::regeneratePassword, &TransferRow::removePassword}
            : QList<void (TransferRow::*)()>{&TransferRow::generatePassword};
    const QStringList entries = presenter.passwordMenu();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (i == 2)
            m_passwordMenu->addSeparator();
        m_passwordMenu->addAction(entries[i], this, handlers[i]);
    }
    const QString tooltip = presenter.passwordButton();
    m_passwordButton->setToolTip(tooltip);
    m_passwordButton->setAccessibleName(tooltip);
    m_passwordButton->setIcon(
        m_transfer.hasPassword
            ? Style::icon(QStringLiteral("lock.fill"), Style::accent())
            : Style::icon(QStringLiteral("lock.open"), Style::faded(Style::secondary(), 0.6)));
}

void TransferRow::refresh() {
    const TransferItem& t = m_transfer;
    const TransferPresenter presenter(t);
    m_typeIcon->setFileName(t.fileName);
    m_name->setFullText(presenter.name());
    m_lock->setVisible(t.hasPassword);

    Labels::setText(m_date, presenter.date());
    m_fileCount->setFullText(presenter.fileCount());
    m_fileCount->setVisible(!presenter.fileCount().isEmpty());
    m_downloaded->setFullText(presenter.downloaded());
    m_downloaded->setVisible(!presenter.downloaded().isEmpty());
    // The same text the list gives a screen reader for this row when it is only painted.
    m_mainLine->setAccessibleName(presenter.accessibleName());

    CopiedOverlay::showOver(m_overlay, m_mainLine, showCopied());
    m_copyButton->setIcon(showCopied() ? Style::icon(QStringLiteral("checkmark.circle.fill"), Style::green())
                                       : Style::icon(QStringLiteral("doc.on.doc"), Style::secondary()));
    m_expandButton->setVisible(!t.originalFileNames.isEmpty());
    m_expandButton->setIcon(Style::icon(
        isExpanded() ? QStringLiteral("chevron.up") : QStringLiteral("chevron.down"), Style::secondary()));

    m_passwordLine->setVisible(passwordVisible() && t.password.has_value());
    Labels::setText(m_password, t.password.value_or(QString()));
    m_copyPasswordButton->setIcon(passwordCopied()
                                      ? Style::icon(QStringLiteral("checkmark"), Style::green())
                                      : Style::icon(QStringLiteral("doc.on.doc"), Style::secondary()));
    m_loadingLine->setVisible(isLoadingPassword());

    const bool listShown = isExpanded() && !t.originalFileNames.isEmpty();
    if (listShown && m_listedNames != t.originalFileNames)
        rebuildFileList();
    m_fileList->setVisible(listShown);
}

void TransferRow::rebuildFileList() {
    m_listedNames = m_transfer.originalFileNames;
    auto* content = new QWidget;
    auto* names = new QVBoxLayout(content);
    names->setContentsMargins(0, 0, 0, 0);
    names->setSpacing(4);
    for (const QString& name : std::as_const(m_listedNames)) {
        auto* row = new QHBoxLayout;
        row->setSpacing(6);
        row->addWidget(new FileTypeIcon(name, 14));
        auto* label = new ElidedLabel(Qt::ElideMiddle);
        Style::setFont(label, Style::Text::Fine);
        label->setFullText(name);
        row->addWidget(label);
        row->addStretch(1);
        names->addLayout(row);
    }
    names->addStretch(1);
    m_fileScroll->setWidget(content); // deletes the previous list
    m_fileScroll->setFixedHeight(fileLineHeight * int(qMin<qsizetype>(m_listedNames.size(), fileLinesShown)));
}

bool TransferRow::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_mainLine)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonRelease: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && m_mainLine->rect().contains(mouse->position().toPoint())) {
            copyLinkAction();
            return true;
        }
        break;
    }
    case QEvent::ContextMenu:
        m_contextMenu->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void TransferRow::copyLinkAction() {
    if (m_sent->copyLink(m_transfer))
        states()->flash(m_transfer.code, RowStates::LinkCopied, CopiedOverlay::duration());
}

void TransferRow::copyPasswordFromLine() {
    copyFromPasswordLine(m_sent, m_transfer);
}

void TransferRow::revealPassword() {
    revealPasswordOf(m_sent, m_transfer);
}

void TransferRow::generatePassword() {
    requestPassword(m_sent, m_transfer.code, true);
}

void TransferRow::copyPasswordOnly() {
    m_sent->copyPassword(m_transfer);
}

void TransferRow::regeneratePassword() {
    askToRegenerate(this, m_sent, m_transfer.code);
}

void TransferRow::removePassword() {
    askToRemovePassword(this, m_sent, m_transfer.code);
}

RenameDialog* TransferRow::renameDialog() const {
    return RenameDialog::openFor(window(), m_transfer.code);
}

void TransferRow::openRenameDialog() {
    openRenameDialogFor(window(), m_sent, m_transfer);
}
