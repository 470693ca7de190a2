#include "views/TransferActions.h"

#include "models/UserText.h"
#include "transfers/Detached.h"
#include "transfers/SentTransferOperations.h"
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
// stands for the code by then. The operations report a failure themselves.
void requestPassword(RowStates* states, SentTransferOperations* operations, const QString& code,
                     bool generate) {
    states->set(code, RowStates::PasswordLoading, true);
    auto request = generate ? operations->regeneratePassword(code) : operations->revealPassword(code);
    detach(std::move(request), states, [states, code](std::optional<QString>) {
        states->set(code, RowStates::PasswordLoading, false);
        states->set(code, RowStates::PasswordShown, true);
    });
}

// The alert may outlive the row (a refresh rebuilds the list): the answer goes by code.
void askToRegenerate(QWidget* parent, SentTransfers* sent, SentTransferOperations* operations,
                     const QString& code) {
    const QPointer<SentTransfers> guarded(sent);
    const QPointer<SentTransferOperations> guardedOperations(operations);
    AlertDialog::ask(
        parent, QCoreApplication::translate("SentRow", "Neues Passwort erzeugen?"),
        QCoreApplication::translate(
            "SentRow",
            "Das aktuelle Passwort wird sofort ungültig. Kunden müssen mit dem neuen Passwort downloaden."),
        {QCoreApplication::translate("SentRow", "Neu erzeugen"),
         QCoreApplication::translate("SentRow", "Abbrechen")},
        sent, [guarded, guardedOperations, code](int answer) {
            if (answer == 0 && guardedOperations && guarded->contains(code))
                requestPassword(guarded->model()->states(), guardedOperations, code, true);
        });
}

void askToRemovePassword(QWidget* parent, SentTransfers* sent, SentTransferOperations* operations,
                         const QString& code) {
    const QPointer<SentTransfers> guarded(sent);
    const QPointer<SentTransferOperations> guardedOperations(operations);
    AlertDialog::ask(parent, QCoreApplication::translate("SentRow", "Passwortschutz entfernen?"),
                     QCoreApplication::translate("SentRow", "Der Link ist danach ohne Passwort abrufbar."),
                     {QCoreApplication::translate("SentRow", "Entfernen"),
                      QCoreApplication::translate("SentRow", "Abbrechen")},
                     sent, [guarded, guardedOperations, code](int answer) {
                         if (answer != 0 || !guardedOperations || !guarded->contains(code))
                             return;
                         detach(guardedOperations->removePassword(code), guarded, [guarded, code](bool) {
                             guarded->model()->states()->set(code, RowStates::PasswordShown, false);
                         });
                     });
}

// Parented to the panel and tied to the code, so it stays open while refreshes rebuild the rows.
void openRenameDialogFor(QWidget* window, SentTransfers* sent, SentTransferOperations* operations,
                         const TransferItem& transfer) {
    if (RenameDialog* open = RenameDialog::openFor(window, transfer.code)) {
        open->raise();
        open->activateWindow();
        return;
    }
    auto* dialog = new RenameDialog(transfer.code, transfer.fileName, sent, operations, window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}
} // namespace

bool TransferActions::invoke(const QString& action, const TransferItem& transfer, SentTransfers* sent,
                             SentTransferOperations* operations, QWidget* parent) {
    RowStates* states = sent->model()->states();
    const QString& code = transfer.code;
    const int state = states->of(code);
    if (action == UserText::copyLink()) {
        if (operations->copyLink(transfer))
            states->flash(code, RowStates::LinkCopied);
    } else if (action == QCoreApplication::translate("TransferPresenter", "Passwort anzeigen")) {
        if (transfer.password)
            states->set(code, RowStates::PasswordShown, true);
        else
            requestPassword(states, operations, code, false);
    } else if (action == QCoreApplication::translate("TransferPresenter", "Passwort kopieren")) {
        // The password line's button while the line shows ("Kopiert" only once the clipboard took
        // it), else the menu's entry.
        if ((state & RowStates::PasswordShown) && transfer.password) {
            if (operations->copyPassword(transfer))
                states->flash(code, RowStates::PasswordCopied);
        } else {
            operations->copyPassword(transfer);
        }
    } else if (action == QCoreApplication::translate("TransferPresenter", "Passwort erzeugen")) {
        requestPassword(states, operations, code, true);
    } else if (action == QCoreApplication::translate("TransferPresenter", "Neu erzeugen")) {
        askToRegenerate(parent, sent, operations, code);
    } else if (action == QCoreApplication::translate("TransferPresenter", "Passwortschutz entfernen")) {
        askToRemovePassword(parent, sent, operations, code);
    } else if (action == QCoreApplication::translate("TransferPresenter", "Verbergen")) {
        states->set(code, RowStates::PasswordShown, false);
    } else if (action == QCoreApplication::translate("TransferPresenter", "Herunterladen")) {
        detach(operations->downloadOutgoing(transfer), operations);
    } else if (action == QCoreApplication::translate("TransferPresenter", "Umbenennen…")) {
        openRenameDialogFor(parent->window(), sent, operations, transfer);
    } else if (action == UserText::deleteFromServer()) {
        operations->remove(transfer);
    } else if (action == QCoreApplication::translate("TransferPresenter", "Dateiliste")) {
        states->set(code, RowStates::Unfolded, !(state & RowStates::Unfolded));
    } else {
        return false;
    }
    return true;
}

QMenu* TransferActions::menu(const QString& button, const TransferItem& transfer, SentTransfers* sent,
                             SentTransferOperations* operations, QWidget* parent) {
    const TransferPresenter presenter(transfer);
    const bool context = button.isEmpty();
    if (!context && button != presenter.passwordButton())
        return nullptr;
    auto* menu = new QMenu(parent);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QPointer<SentTransfers> guarded(sent);
    const QPointer<SentTransferOperations> guardedOperations(operations);
    const auto entry = [menu](const QString& text, auto&& does) { menu->addAction(text, menu, does); };
    if (context) {
        menu->setObjectName(QStringLiteral("contextMenu"));
        entry(QCoreApplication::translate("SentRow", "Umbenennen\u2026"), [=] {
            if (guarded && guardedOperations)
                invoke(QCoreApplication::translate("TransferPresenter", "Umbenennen…"), transfer, guarded,
                       guardedOperations, parent);
        });
        // Only the copy: the "Link kopiert" strip belongs to the button and the click on the line.
        entry(UserText::copyLink(), [=] {
            if (guardedOperations)
                guardedOperations->copyLink(transfer);
        });
        entry(QCoreApplication::translate("SentRow", "Herunterladen"), [=] {
            if (guardedOperations)
                detach(guardedOperations->downloadOutgoing(transfer), guardedOperations);
        });
        menu->addSeparator();
        entry(QCoreApplication::translate("SentRow", "Löschen"), [=] {
            if (guardedOperations)
                guardedOperations->remove(transfer);
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
            if (guardedOperations && copyOnly)
                guardedOperations->copyPassword(transfer);
            else if (guarded && guardedOperations)
                invoke(action, transfer, guarded, guardedOperations, parent);
        });
    }
    return menu;
}
