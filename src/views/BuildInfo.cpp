#include "views/BuildInfo.h"

#include "models/Format.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>

#ifndef ZANVOLT_VERSION
#define ZANVOLT_VERSION ""
#endif

QString BuildInfo::version() {
    static const QString value = displayVersion(QStringLiteral(ZANVOLT_VERSION));
    return value;
}

QString BuildInfo::buildDate() {
    static const QString value = [] {
        const QFileInfo executable(QCoreApplication::applicationFilePath());
        QDateTime modified = executable.exists() ? executable.lastModified() : QDateTime();
        if (!modified.isValid())
            modified = QDateTime::currentDateTime();
        return Format::dateTime(modified);
    }();
    return value;
}

QString BuildInfo::displayVersion(const QString& raw) {
    return raw.isEmpty() ? QStringLiteral("?") : raw;
}
