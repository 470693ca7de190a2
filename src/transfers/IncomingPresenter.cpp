#include "IncomingPresenter.h"

#include "Format.h"

QString IncomingPresenter::headline() const {
    const QList<IncomingFile>& files = m_upload.files;
    if (files.isEmpty())
        return m_upload.customerName;
    if (files.size() == 1)
        return files.first().name;
    return files.first().name + QStringLiteral(" (+") + QString::number(files.size() - 1) + QLatin1Char(')');
}

QString IncomingPresenter::order() const {
    if (!m_upload.auftragsnummer || m_upload.auftragsnummer->isEmpty())
        return {};
    return QStringLiteral("· Auftrag ") + *m_upload.auftragsnummer;
}

QString IncomingPresenter::fileCount() const {
    return m_upload.files.size() >= 2 ? QStringLiteral("· %1 Dateien").arg(m_upload.files.size()) : QString();
}

QString IncomingPresenter::size() const {
    return m_upload.totalSizeFormatted ? QStringLiteral("· ") + *m_upload.totalSizeFormatted : QString();
}

QString IncomingPresenter::date() const {
    return Format::dayAndTime(m_upload.uploadDate);
}

QString IncomingPresenter::downloadButton() const {
    return m_upload.isDownloaded ? QStringLiteral("Erneut herunterladen")
                                 : QStringLiteral("Dateien herunterladen");
}

bool IncomingPresenter::canUnfold() const {
    return m_upload.files.size() > 1 || (m_upload.nachricht && !m_upload.nachricht->isEmpty());
}

QString IncomingPresenter::accessibleName() const {
    QStringList texts{headline(), customer()};
    for (const QString& text : {order(), fileCount(), size()})
        if (!text.isEmpty())
            texts << text;
    texts << date();
    // As the labels show it: a screen reader must not read a reordered name either.
    return Format::shown(texts.join(QLatin1Char(' ')));
}

QStringList IncomingPresenter::actions() const {
    QStringList names{downloadButton(), QStringLiteral("Link kopieren"),
                      QStringLiteral("Vom Server löschen")};
    if (canUnfold())
        names << QStringLiteral("Details");
    return names;
}
