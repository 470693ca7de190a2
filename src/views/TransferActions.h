#pragma once

#include <QString>

class QMenu;
class QWidget;
class SentTransferOperations;
class SentTransfers;
struct TransferItem;

// What the buttons and menu entries of a sent transfer's row do. What a row holds open is kept by
// code in the sent transfers' RowStates, so it shows on whichever row stands for the code.
class TransferActions {
public:
    // Does what the button or menu entry named `action` does for `transfer`. Questions and the
    // rename dialog open over `parent`. False for the password button, which only opens its menu
    // (see menu()), and for unknown names.
    static bool invoke(const QString& action, const TransferItem& transfer, SentTransfers* sent,
                       SentTransferOperations* operations, QWidget* parent);
    // The menu the button named `button` opens, or the row's context menu for an empty name; null
    // where there is none. It deletes itself once closed.
    static QMenu* menu(const QString& button, const TransferItem& transfer, SentTransfers* sent,
                       SentTransferOperations* operations, QWidget* parent);
};
