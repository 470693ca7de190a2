#pragma once

#include <QTemporaryDir>

// Points HOME at a throw-away folder while it lives, so that Downloads, ~/.zanvolt and the
// settings a test causes stay out of the real home; XDG_CONFIG_HOME is dropped to follow it.
class TemporaryHome {
public:
    TemporaryHome();
    ~TemporaryHome();
    TemporaryHome(const TemporaryHome&) = delete;
    TemporaryHome& operator=(const TemporaryHome&) = delete;

    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

private:
    QByteArray m_saved;
    QByteArray m_savedConfig;
    QTemporaryDir m_dir;
};
