#include "SafeFileName.h"

QString SafeFileName::forFolder(QString name) {
    for (QChar& c : name) {
        if (c == u'/' || c == u'\\' || c == QChar(0))
            c = u'_';
    }
    if (name.isEmpty())
        return QStringLiteral("_");
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return QString(name.size(), u'_');
    return name;
}
