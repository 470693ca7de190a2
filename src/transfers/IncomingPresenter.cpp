#include "IncomingPresenter.h"

#include "Format.h"

IncomingPresenter::IncomingPresenter(const IncomingUpload& upload)
    : m_upload(upload), m_date(Format::dayAndTime(upload.uploadDate)) {
    const QList<IncomingFile>& files = upload.files;
    if (files.isEmpty())
        m_headline = upload.customerName;
    else if (files.size() == 1)
        m_headline = files.first().name;
    else
        m_headline =
            files.first().name + QStringLiteral(" (+") + QString::number(files.size() - 1) + QLatin1Char(')');
    if (upload.auftragsnummer && !upload.auftragsnummer->isEmpty())
        m_order = QStringLiteral("· Auftrag ") + *upload.auftragsnummer;
    if (files.size() >= 2)
        m_fileCount = QStringLiteral("· %1 Dateien").arg(files.size());
    if (upload.totalSizeFormatted)
        m_size = QStringLiteral("· ") + *upload.totalSizeFormatted;
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
