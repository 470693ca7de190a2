#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QObject;
class QWidget;

// The panel's warning alerts. They never wait in a loop of their own: the alert opens modal to the
// panel's window and the answer arrives later, when the row that asked may already be gone.
class AlertDialog {
public:
    // Opens the alert over `parent`'s window and returns at once. `answered` gets the index of the
    // chosen button (0 is the first, the default; Escape or closing the alert chooses the last one),
    // unless `context` is gone by then.
    static void ask(QWidget* parent, const QString& message, const QString& informativeText,
                    const QStringList& buttons, QObject* context, std::function<void(int)> answered);
};
