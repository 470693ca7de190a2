#pragma once

#include <QObject>
#include <functional>
#include <qcoro/qcorotask.h>

// Runs one refresh of a list at a time. A refresh asked for while one runs is not started beside
// it: one more runs after it, and everyone who asked meanwhile waits for that one, so a slow server
// never gets a second list request at once, yet nobody reads a list older than their request.
class RefreshGate : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // `refresh` starts one refresh; it is called again for the requests that came meanwhile.
    QCoro::Task<> run(std::function<QCoro::Task<>()> refresh);

Q_SIGNALS:
    // The running refresh and all that were asked for during it have ended.
    void idle();

private:
    bool m_running = false;
    bool m_again = false;
};
