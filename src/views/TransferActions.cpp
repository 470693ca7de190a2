#include "views/TransferActions.h"

#include "models/UserText.h"
#include "transfers/Detached.h"
#include "transfers/SentTransfers.h"
#include "transfers/TransferPresenter.h"
#include "views/AlertDialog.h"
#include "views/CopiedOverlay.h"
#include "views/RenameDialog.h"

#include <QCoreApplication>
#include <QMenu>
#include <QPointer>

namespace {
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
        sent->model()->states()->flash(transfer.code, RowStates::PasswordCopied);
}

// The alert may outlive the row (a refresh rebuilds the list): the answer goes by code.
void askToRegenerate(QWidget* parent, SentTransfers* sent, const QString& code) {
    const QPointer<SentTransfers> guarded(sent);
    AlertDialog::ask(
        parent, QCoreApplication::translate("SentRow", "Neues Passwort erzeugen?"),
        QCoreApplication::translate(
            "SentRow",
            "Das aktuelle Passwort wird sofort ungültig. Kunden müssen mit dem neuen Passwort downloaden."),
        {QCoreApplication::translate("SentRow", "Neu erzeugen"),
         QCoreApplication::translate("SentRow", "Abbrechen")},
        sent, [guarded, code](int answer) {
            if (answer == 0 && guarded->contains(code))
                requestPassword(guarded, code, true);
        });
}

void askToRemovePassword(QWidget* parent, SentTransfers* sent, const QString& code) {
    const QPointer<SentTransfers> guarded(sent);
    AlertDialog::ask(parent, QCoreApplication::translate("SentRow", "Passwortschutz entfernen?"),
                     QCoreApplication::translate("SentRow", "Der Link ist danach ohne Passwort abrufbar."),
                     {QCoreApplication::translate("SentRow", "Entfernen"),
                      QCoreApplication::translate("SentRow", "Abbrechen")},
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

bool TransferActions::invoke(const QString& action, const TransferItem& transfer, SentTransfers* sent,
                             QWidget* parent) {
    RowStates* states = sent->model()->states();
    const QString& code = transfer.code;
    const int state = states->of(code);
    if (action == UserText::copyLink()) {
        if (sent->copyLink(transfer))
            states->flash(code, RowStates::LinkCopied);
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

QMenu* TransferActions::menu(const QString& button, const TransferItem& transfer, SentTransfers* sent,
                             QWidget* parent) {
    const TransferPresenter presenter(transfer);
    const bool context = button.isEmpty();
    if (!context && button != presenter.passwordButton())
        return nullptr;
    auto* menu = new QMenu(parent);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QPointer<SentTransfers> guarded(sent);
    const auto entry = [menu](const QString& text, auto&& does) { menu->addAction(text, menu, does); };
    if (context) {
        menu->setObjectName(QStringLiteral("contextMenu"));
        entry(QCoreApplication::translate("SentRow", "Umbenennen\u2026"), [=] {
            if (guarded)
                invoke(QCoreApplication::translate("TransferPresenter", "Umbenennen…"), transfer, guarded,
                       parent);
        });
        // Only the copy: the "Link kopiert" strip belongs to the button and the click on the line.
        entry(UserText::copyLink(), [=] {
            if (guarded)
                guarded->copyLink(transfer);
        });
        entry(QCoreApplication::translate("SentRow", "Herunterladen"), [=] {
            if (guarded)
                detach(guarded->downloadOutgoing(transfer), guarded);
        });
        menu->addSeparator();
        entry(QCoreApplication::translate("SentRow", "Löschen"), [=] {
            if (guarded)
                guarded->remove(transfer);
        });
        return menu;
    }
    menu->setObjectName(QStringLiteral("passwordMenu"));
    // In the presenter's order; the entries that replace the password follow a separator.
    const QStringList entries = presenter.passwordMenu();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (i == 2)
            menu->addSeparator();
        // "Passwort kopieren" of the menu copies without the line's "Kopiert".
        const bool copyOnly = transfer.hasPassword && i == 1;
        entry(entries[i], [=, action = entries[i]] {
            if (guarded && copyOnly)
                guarded->copyPassword(transfer);
            else if (guarded)
                invoke(action, transfer, guarded, parent);
        });
    }
    return menu;
}
