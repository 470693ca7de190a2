#pragma once

#include "IncomingUpload.h"

#include <QStringList>

// What the row of a customer upload says: the texts it draws, the names of its buttons, and what a
// screen reader reads for it. Drawn and read texts come from here alone, so they cannot drift apart.
class IncomingPresenter {
public:
    explicit IncomingPresenter(const IncomingUpload& upload) : m_upload(upload) {}

    // The first file's name ("Angebot.pdf (+3)" for more), or the customer without files.
    QString headline() const;
    QString customer() const { return m_upload.customerName; }
    // "· Auftrag A-1234"; empty without an order number.
    QString order() const;
    // "· 4 Dateien" from two files on; empty below.
    QString fileCount() const;
    // "· 1.5 MB"; empty while unknown.
    QString size() const;
    QString date() const;
    // The download button's tooltip and name.
    QString downloadButton() const;
    // More than one file, or a message.
    bool canUnfold() const;

    QString accessibleName() const;
    // Every action of the row's buttons, by the name they show.
    QStringList actions() const;

private:
    const IncomingUpload& m_upload;
};
