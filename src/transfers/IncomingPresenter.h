#pragma once

#include "models/IncomingUpload.h"

#include <QStringList>

// What the row of a customer upload says: the texts it draws, the names of its buttons, and what a
// screen reader reads for it. Drawn and read texts come from here alone, so they cannot drift apart.
// The texts are made once, when the presenter is (a painted row needs them all).
class IncomingPresenter {
public:
    explicit IncomingPresenter(const IncomingUpload& upload);

    // The first file's name ("Angebot.pdf (+3)" for more), or the customer without files.
    QString headline() const { return m_headline; }
    QString customer() const { return m_upload.customerName; }
    // "· Auftrag A-1234"; empty without an order number.
    QString order() const { return m_order; }
    // "· 4 Dateien" from two files on; empty below.
    QString fileCount() const { return m_fileCount; }
    // "· 1.5 MB"; empty while unknown.
    QString size() const { return m_size; }
    QString date() const { return m_date; }
    // The download button's tooltip and name.
    QString downloadButton() const;
    // More than one file, or a message.
    bool canUnfold() const;

    QString accessibleName() const;
    // Every action of the row's buttons, by the name they show.
    QStringList actions() const;

private:
    const IncomingUpload& m_upload;
    QString m_headline;
    QString m_order;
    QString m_fileCount;
    QString m_size;
    QString m_date;
};
