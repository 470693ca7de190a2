#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QObject;
class QWidget;

// The panel's warning alerts. They never wait in a loop of their own: the alert opens modal to the
// panel's window and the answer arrives later, when the row that asked may already be gone.
// Tests answer the next alert in advance instead of clicking it.
class AlertDialog {
public:
    // Opens the alert over `parent`'s window and returns at once. `answered` gets the index of the
    // chosen button (0 is the first, the default; Escape or closing the alert chooses the last one),
    // unless `context` is gone by then.
    static void ask(QWidget* parent, const QString& message, const QString& informativeText,
                    const QStringList& buttons, QObject* context, std::function<void(int)> answered);

    // The next ask() answers `index` at once without showing anything, and
    // remembers what it would have shown.
    static void setNextAnswer(int index);
    struct Shown {
        QString message;
        QString informativeText;
        QStringList buttons;
    };
    static std::optional<Shown> lastShown();
};
