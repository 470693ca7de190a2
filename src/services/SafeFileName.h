#pragma once

#include <QString>

// File names that come from the server, made safe to join to a local folder and to save under:
// the result never names anything outside that folder or the folder itself, and saving never
// replaces anything that is already there.
class SafeFileName {
public:
    // "/" and "\" (and NUL) become "_"; other control characters (C0, DEL, C1) and bidirectional
    // controls are removed; an empty name, "." and ".." become underscores. Nothing is resolved, so
    // "../x" stays one name, ".._x". A name longer than the file system's 255 bytes (UTF-8) is
    // shortened, keeping its extension and whole characters.
    static QString forFolder(QString name);

    // The n-th name for a taken one: "Rechnung.pdf", 2 → "Rechnung (2).pdf"; "Projekt" → "Projekt (2)";
    // ".bashrc" → ".bashrc (2)"; "archiv.tar.gz" → "archiv (2).tar.gz". Stays within 255 bytes.
    static QString numbered(const QString& name, int n);

    // Renames `source` into `folder` under the safe form of `wantedName` or, when that is taken by
    // anything (also a dangling link), under the first free numbered name. Never replaces anything,
    // even when another process creates the name meanwhile. Returns the final path; throws
    // PlatformError with the system's text when the rename fails (e.g. across file systems).
    static QString moveNoReplace(const QString& source, const QString& folder, const QString& wantedName);
};
