#pragma once

#include <QHash>
#include <QObject>
#include <chrono>

// What the rows of a list hold open, by their record's key (a transfer's code, an upload's token).
// Kept apart from any widget, so that a poll, a scroll or a repaint never loses it, and whatever
// ends a state (a reply, a timer) ends it by key, whether or not a row shows it then.
class RowStates : public QObject {
    Q_OBJECT

public:
    enum Flag {
        Unfolded = 0x1,
        PasswordShown = 0x2,
        PasswordLoading = 0x4,
        PasswordCopied = 0x8, // "Kopiert" on the password line
        LinkCopied = 0x10,    // "Link kopiert" over the row
    };
    // The flags of a row, as a list model gives them to its view.
    static constexpr int Role = Qt::UserRole + 1;

    using QObject::QObject;

    int of(const QString& key) const { return m_states.value(key); }
    bool has(const QString& key, Flag flag) const { return of(key) & flag; }
    void set(const QString& key, Flag flag, bool on);
    // Sets `flag` for its flash duration; a second flash meanwhile ends with the first.
    void flash(const QString& key, Flag flag);
    // How long a flash of `flag` lasts: "Link kopiert" 2 s, the password line's "Kopiert" 1.5 s.
    std::chrono::milliseconds flashDuration(Flag flag) const;
    void setFlashDuration(Flag flag, std::chrono::milliseconds duration);

Q_SIGNALS:
    void changed(const QString& key);

private:
    QHash<QString, int> m_states;
    QHash<int, std::chrono::milliseconds> m_flashDurations{{LinkCopied, std::chrono::milliseconds(2000)},
                                                           {PasswordCopied, std::chrono::milliseconds(1500)}};
};
