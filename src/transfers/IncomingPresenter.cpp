#include "IncomingPresenter.h"

#include "Format.h"
#include "UserText.h"
#include <QCoreApplication>

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
        m_order =
            QCoreApplication::translate("IncomingPresenter", "· Auftrag %1").arg(*upload.auftragsnummer);
    if (files.size() >= 2)
        m_fileCount = UserText::fileCount(files.size());
    if (upload.totalSizeFormatted)
        m_size = QStringLiteral("· ") + *upload.totalSizeFormatted;
}

QString IncomingPresenter::downloadButton() const {
    return m_upload.isDownloaded ? QCoreApplication::translate("IncomingPresenter", "Erneut herunterladen")
                                 : QCoreApplication::translate("IncomingPresenter", "Dateien herunterladen");
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
    QStringList names{downloadButton(), UserText::copyLink(), UserText::deleteFromServer()};
    if (canUnfold())
        names << QCoreApplication::translate("IncomingPresenter", "Details");
    return names;
}
