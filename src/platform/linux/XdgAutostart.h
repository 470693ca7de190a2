#pragma once

#include <QString>

// Launch at login as an XDG autostart entry, com.zanvolt.Zanvolt.desktop in
// the user's autostart folder. The entry is on when the file exists and no
// desktop was told to skip it (Hidden=true, or GNOME's
// X-GNOME-Autostart-enabled=false).
class XdgAutostart {
public:
    // An empty folder means $XDG_CONFIG_HOME/autostart, else ~/.config/autostart.
    explicit XdgAutostart(QString folder = {});

    QString filePath() const;

    // Writes the entry for the running program. Throws AppError with a German
    // description when the folder or the file cannot be written.
    void registerEntry();
    // Removes the entry; a missing one is no failure. Throws AppError when the
    // file stays.
    void unregisterEntry();
    bool isEnabled() const;

    // The Exec value that starts program, quoted and escaped as desktop
    // entries require.
    static QString execValue(const QString& program);

private:
    QString m_folder;
};
