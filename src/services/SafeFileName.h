#pragma once

#include <QString>

// File names that come from the server, made safe to join to a local folder:
// the result never names anything outside that folder or the folder itself.
class SafeFileName {
public:
    // "/" and "\" (and NUL) become "_"; an empty name, "." and ".." become
    // underscores. Nothing is resolved, so "../x" stays one name, ".._x".
    static QString forFolder(QString name);
    // "Rechnung.pdf", 2 → "Rechnung (2).pdf".
    static QString numbered(const QString& name, int number);
    // Renames `source` into `folder` under the safe form of `wantedName` or,
    // when that is taken by anything, the first free numbered name; never
    // replaces anything. Returns the final path; throws PlatformError.
    static QString moveNoReplace(const QString& source, const QString& folder, const QString& wantedName);
};
