#include "transfers/RowStates.h"

#include <QTimer>

void RowStates::set(const QString& key, Flag flag, bool on) {
    const int before = of(key);
    const int after = on ? before | flag : before & ~flag;
    if (after == before)
        return;
    if (after)
        m_states.insert(key, after);
    else
        m_states.remove(key);
    Q_EMIT changed(key);
}

void RowStates::flash(const QString& key, Flag flag, std::chrono::milliseconds duration) {
    set(key, flag, true);
    QTimer::singleShot(duration, this, [this, key, flag] { set(key, flag, false); });
}
