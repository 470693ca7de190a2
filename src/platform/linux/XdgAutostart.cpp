#include "XdgAutostart.h"

#include "AppError.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTextStream>

namespace {
const QString fileName = QStringLiteral("com.zanvolt.Zanvolt.desktop");

QString defaultFolder() {
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    // Relative values are invalid and must be ignored.
    if (configHome.isEmpty() || QDir::isRelativePath(configHome))
        configHome = QDir::homePath() + QStringLiteral("/.config");
    return configHome + QStringLiteral("/autostart");
}

[[noreturn]] void failWrite(const QString& reason) {
    throw AppError(
        QCoreApplication::translate("XdgAutostart", "Autostart-Eintrag konnte nicht geschrieben werden: ") +
        reason);
}

bool isTrue(const QString& value) {
    return value.trimmed() == QLatin1String("true");
}
} // namespace

XdgAutostart::XdgAutostart(QString folder)
    : m_folder(folder.isEmpty() ? defaultFolder() : std::move(folder)) {}

QString XdgAutostart::filePath() const {
    return m_folder + QLatin1Char('/') + fileName;
}

void XdgAutostart::registerEntry() {
    if (!QDir().mkpath(m_folder))
        failWrite(QCoreApplication::translate("XdgAutostart", "Ordner „%1“ kann nicht angelegt werden")
                      .arg(m_folder));

    QSaveFile file(filePath());
    if (!file.open(QIODevice::WriteOnly))
        failWrite(file.errorString());
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Zanvolt\n"
                                         "Exec=%1\n"
                                         "Icon=com.zanvolt.Zanvolt\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(execValue(QCoreApplication::applicationFilePath()));
    file.write(entry.toUtf8());
    if (!file.commit())
        failWrite(file.errorString());
}

void XdgAutostart::unregisterEntry() {
    QFile file(filePath());
    if (!file.exists())
        return;
    if (!file.remove())
        throw AppError(
            QCoreApplication::translate("XdgAutostart", "Autostart-Eintrag konnte nicht entfernt werden: ") +
            file.errorString());
}

bool XdgAutostart::isEnabled() const {
    QFile file(filePath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QTextStream in(&file);
    bool inMainGroup = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1);
        if (key == QLatin1String("Hidden") && isTrue(value))
            return false;
        if (key == QLatin1String("X-GNOME-Autostart-enabled") && value.trimmed() == QLatin1String("false"))
            return false;
    }
    return true;
}

QString XdgAutostart::execValue(const QString& program) {
    // Inside an argument in double quotes, these four need a backslash.
    QString argument;
    bool needsQuotes = false;
    for (const QChar c : program) {
        if (QStringLiteral(" \t\n\"'\\><~|&;$*?#()`").contains(c))
            needsQuotes = true;
        if (QStringLiteral("\"`$\\").contains(c))
            argument += QLatin1Char('\\');
        argument += c;
    }
    if (needsQuotes)
        argument = QLatin1Char('"') + argument + QLatin1Char('"');
    // Field codes start with "%"; then the value itself is an escaped string.
    argument.replace(QLatin1Char('%'), QStringLiteral("%%"));
    argument.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    argument.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    argument.replace(QLatin1Char('\t'), QStringLiteral("\\t"));
    return argument;
}
