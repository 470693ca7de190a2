#pragma once

#include <QList>
#include <QString>

// The plain German pages a browser sees: the customer upload form and the download pages.
class ServerPages {
public:
    struct Link {
        QString name;
        qint64 size = 0;
        QString href;
    };

    static QString uploadForm(const QString& problem = {});
    static QString uploadDone(const QString& customerName, int fileCount);
    static QString downloadPage(const QString& heading, const QList<Link>& files);
    static QString passwordPage(const QString& code, bool wrongPassword);
    static QString message(const QString& heading, const QString& text);

private:
    static QString page(const QString& title, const QString& body);
};
