#include "TransferPresenter.h"

#include "Format.h"

TransferPresenter::TransferPresenter(const TransferItem& transfer)
    : m_transfer(transfer), m_date(Format::dateTime(transfer.uploadDate)) {
    if (const qsizetype files = transfer.originalFileNames.size(); files > 0)
        m_fileCount = files == 1 ? QStringLiteral("· 1 Datei") : QStringLiteral("· %1 Dateien").arg(files);
    if (transfer.downloadedAt)
        m_downloaded =
            QStringLiteral("· Datei heruntergeladen: ") + Format::downloadedAt(*transfer.downloadedAt);
}

QString TransferPresenter::passwordButton() const {
    return m_transfer.hasPassword ? QStringLiteral("Passwort verwalten")
                                  : QStringLiteral("Passwort hinzufügen");
}

QStringList TransferPresenter::passwordMenu() const {
    if (!m_transfer.hasPassword)
        return {QStringLiteral("Passwort erzeugen")};
    return {QStringLiteral("Passwort anzeigen"), QStringLiteral("Passwort kopieren"),
            QStringLiteral("Neu erzeugen"), QStringLiteral("Passwortschutz entfernen")};
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
    return m_transfer.hasPassword ? QStringLiteral("Passwortgeschützt") : QString();
}

QStringList TransferPresenter::actions(bool passwordShown) const {
    QStringList names{QStringLiteral("Link kopieren"), passwordButton()};
    names << passwordMenu();
    names << QStringLiteral("Herunterladen") << QStringLiteral("Umbenennen…")
          << QStringLiteral("Vom Server löschen");
    if (canUnfold())
        names << QStringLiteral("Dateiliste");
    if (passwordShown)
        names << QStringLiteral("Verbergen");
    return names;
}
