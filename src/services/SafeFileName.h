#pragma once

#include <QString>

// File names that come from the server, made safe to join to a local folder:
// the result never names anything outside that folder or the folder itself.
class SafeFileName {
public:
    // "/" and "\" (and NUL) become "_"; an empty name, "." and ".." become
    // underscores. Nothing is resolved, so "../x" stays one name, ".._x".
    static QString forFolder(QString name);
};
