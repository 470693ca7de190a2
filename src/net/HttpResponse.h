#pragma once

#include <QByteArray>
#include <QString>

// A complete HTTP answer. Anything less (a cut-off body, a dropped
// connection) is thrown as HttpError instead.
struct HttpResponse {
    int status = 0;
    QByteArray body;  // empty when the body went to `filePath`
    QString filePath; // downloads with status 200: the complete ".part" file
};
