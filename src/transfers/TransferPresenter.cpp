#include "TransferPresenter.h"

#include "Format.h"
#include "UserText.h"
#include <QCoreApplication>

TransferPresenter::TransferPresenter(const TransferItem& transfer)
    : m_transfer(transfer), m_date(Format::dateTime(transfer.uploadDate)) {
    if (const qsizetype files = transfer.originalFileNames.size(); files > 0)
        m_fileCount = UserText::fileCount(files);
    if (transfer.downloadedAt)
        m_downloaded = QCoreApplication::translate("TransferPresenter", "· Datei heruntergeladen: %1")
                           .arg(Format::downloadedAt(*transfer.downloadedAt));
}

QString TransferPresenter::passwordButton() const {
    return m_transfer.hasPassword ? QCoreApplication::translate("TransferPresenter", "Passwort verwalten")
                                  : QCoreApplication::translate("TransferPresenter", "Passwort hinzufügen");
}

QStringList TransferPresenter::passwordMenu() const {
    if (!m_transfer.hasPassword)
        return {QCoreApplication::translate("TransferPresenter", "Passwort erzeugen")};
    return {QCoreApplication::translate("TransferPresenter", "Passwort anzeigen"),
            QCoreApplication::translate("TransferPresenter", "Passwort kopieren"),
            QCoreApplication::translate("TransferPresenter", "Neu erzeugen"),
            QCoreApplication::translate("TransferPresenter", "Passwortschutz entfernen")};
}

QString TransferPresenter::accessibleName() const {
    QStringList texts{name(), date()};
    for (const QString& text : {fileCount(), downloaded()})
        if (!text.isEmpty())
            texts << text;
    // As the labels show it: a screen reader must not read a reordered name either.
    return Format::shown(texts.join(QLatin1Char(' ')));
}

QString TransferPresenter::accessibleDescription() const {
    return m_transfer.hasPassword ? QCoreApplication::translate("TransferPresenter", "Passwortgeschützt")
                                  : QString();
}

QStringList TransferPresenter::actions(bool passwordShown) const {
    QStringList names{UserText::copyLink(), passwordButton()};
    names << passwordMenu();
    names << QCoreApplication::translate("TransferPresenter", "Herunterladen")
          << QCoreApplication::translate("TransferPresenter", "Umbenennen…") << UserText::deleteFromServer();
    if (canUnfold())
        names << QCoreApplication::translate("TransferPresenter", "Dateiliste");
    if (passwordShown)
        names << QCoreApplication::translate("TransferPresenter", "Verbergen");
    return names;
}
