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

void RowStates::flash(const QString& key, Flag flag) {
    set(key, flag, true);
    QTimer::singleShot(flashDuration(flag), this, [this, key, flag] { set(key, flag, false); });
}

std::chrono::milliseconds RowStates::flashDuration(Flag flag) const {
    return m_flashDurations.value(flag);
}

void RowStates::setFlashDuration(Flag flag, std::chrono::milliseconds duration) {
    m_flashDurations.insert(flag, duration);
}
