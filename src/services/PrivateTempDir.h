#pragma once

#include <QString>

// The client's private folder for temporary files (mode 0700): $XDG_CACHE_HOME/zanvolt, else
// ~/.cache/zanvolt. It is on disk, since archives can be larger than a RAM-backed runtime folder
// holds, and it is never at a predictable path in a shared folder that another user could pre-create.
class PrivateTempDir {
public:
    // Creates the folder when needed and corrects a wider mode. Throws PlatformError when it cannot be
    // created, or when the path is a symlink or not a folder owned by this user.
    static QString path();

    // Removes what earlier runs left in the folder (archives, staging folders, partial files). Links
    // are removed as links, never followed. Sockets stay: a running instance listens on them; so does
    // every folder a live process holds a lock on (see StagingFolder).
    // Never throws: a folder that cannot be made holds nothing.
    static void removeLeftovers();

    // Removes a file, a link or a whole folder without following any link inside it, so nothing
    // outside the folder is ever reached. Errors are ignored.
    static void removeTree(const QString& path);
};
