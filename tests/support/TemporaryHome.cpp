#include "TemporaryHome.h"

#include <QFile>

TemporaryHome::TemporaryHome() : m_saved(qgetenv("HOME")), m_savedConfig(qgetenv("XDG_CONFIG_HOME")) {
    qputenv("HOME", QFile::encodeName(m_dir.path()));
    qunsetenv("XDG_CONFIG_HOME");
}

TemporaryHome::~TemporaryHome() {
    qputenv("HOME", m_saved);
    if (!m_savedConfig.isNull())
        qputenv("XDG_CONFIG_HOME", m_savedConfig);
}
