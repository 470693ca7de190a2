#pragma once

#include <QObject>

// Lets the owner of a running operation cancel it: every request of the
// operation aborts at once when cancel() is called, instead of waiting for a
// timeout. QCoro has no cancellation of its own.
class CancelToken : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    void cancel();
    bool isCancelled() const { return m_cancelled; }
    // Throws CancelledError once cancel() was called.
    void throwIfCancelled() const;

Q_SIGNALS:
    void cancelled();

private:
    bool m_cancelled = false;
};
