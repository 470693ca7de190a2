#include "TransferPresenter.h"

#include "Format.h"

QString TransferPresenter::date() const {
    return Format::dateTime(m_transfer.uploadDate);
}

QString TransferPresenter::fileCount() const {
    const qsizetype files = m_transfer.originalFileNames.size();
    if (files == 0)
        return {};
    return files == 1 ? QStringLiteral("· 1 Datei") : QStringLiteral("· %1 Dateien").arg(files);
}

QString TransferPresenter::downloaded() const {
    if (!m_transfer.downloadedAt)
        return {};
    return QStringLiteral("· Datei heruntergeladen: ") + Format::downloadedAt(*m_transfer.downloadedAt);
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
