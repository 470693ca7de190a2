#pragma once

#include <QString>

// A folder of one run's own in the private temporary folder, for its archive and what packing
// stages, so that two runs packing items of the same name never share a path. It is locked (flock on
// the folder itself) while this object lives, so that the start-up clean-up of another Zanvolt
// process leaves it alone, and removed with everything in it when the object goes.
class StagingFolder {
public:
    // Throws PlatformError when the folder cannot be made.
    StagingFolder();
    ~StagingFolder();
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;

    QString path() const { return m_path; }

private:
    QString m_path;
    int m_lock = -1;
};
