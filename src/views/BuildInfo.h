#pragma once

#include <QString>

// The version and build date the panel's footer and the settings page show.
class BuildInfo {
public:
    // The project version, or "?" when the build carries none.
    static QString version();
    // The executable's modification time as "dd.MM.yyyy HH:mm" in local time (the
    // current time when it cannot be read); taken once per process.
    static QString buildDate();

    // `raw` as shown: "?" when empty.
    static QString displayVersion(const QString& raw);
};
