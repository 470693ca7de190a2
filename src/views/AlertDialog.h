#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

// The panel's modal warning alerts. Tests answer the next alert in advance
// instead of clicking a dialog that blocks them.
class AlertDialog {
public:
    // Shows the alert and returns the index of the chosen button (0 is the
    // first, the default). Escape or closing the alert chooses the last one.
    static int ask(QWidget* parent, const QString& message, const QString& informativeText,
                   const QStringList& buttons);

    // The next ask() returns `index` at once without showing anything, and
    // remembers what it would have shown.
    static void setNextAnswer(int index);
    struct Shown {
        QString message;
        QString informativeText;
        QStringList buttons;
    };
    static std::optional<Shown> lastShown();
};
