#pragma once

#include "models/TransferItem.h"

#include <QStringList>

// What the row of a sent transfer says: the texts it draws, the names of its buttons and menu
// entries, and what a screen reader reads for it. Drawn and read texts come from here alone, so
// they cannot drift apart. The texts are made once, when the presenter is (a painted row needs them
// all).
class TransferPresenter {
public:
    explicit TransferPresenter(const TransferItem& transfer);

    QString name() const { return m_transfer.fileName; }
    QString date() const { return m_date; }
    // "· 1 Datei", "· 3 Dateien"; empty without original files.
    QString fileCount() const { return m_fileCount; }
    // "· Datei heruntergeladen: …"; empty until downloaded.
    QString downloaded() const { return m_downloaded; }
    // The password button's tooltip and name.
    QString passwordButton() const;
    // The password button's menu, separators left out.
    QStringList passwordMenu() const;
    bool canUnfold() const { return !m_transfer.originalFileNames.isEmpty(); }

    QString accessibleName() const;
    QString accessibleDescription() const;
    // Every action of the row's buttons and menus, by the name they show; `passwordShown` adds the
    // password line's buttons.
    QStringList actions(bool passwordShown) const;

private:
    const TransferItem& m_transfer;
    QString m_date;
    QString m_fileCount;
    QString m_downloaded;
};
