#pragma once

#include <QString>

// The client's private temporary folder (mode 0700): $XDG_RUNTIME_DIR/zanvolt,
// else <temp>/zanvolt-<uid>. Archives and downloads in progress live here, never
// at a predictable path in a shared folder that another user could pre-create.
class PrivateTempDir {
public:
    // Creates the folder when needed. Throws PlatformError when it cannot be
    // created, or when the path exists but is not a folder owned by this user.
    static QString path();
};
